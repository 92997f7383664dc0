#include "platform/network/smb/smb_failure.h"

#include <libsmbclient.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace hostlore {
namespace {

// The exit codes of the SMB1 probe.
constexpr int kSmb1Answered = 0;
constexpr int kSmb1Refused = 1;

std::string Who(const SmbFailureContext& context) {
  if (context.server == context.address || context.address.empty()) return context.server;
  return context.server + " (" + context.address + ")";
}

bool DroppedDuringNegotiation(int error) {
  return error == ECONNABORTED || error == ECONNRESET || error == EPIPE;
}

// Anonymous credentials: the probe asks only which protocol the server
// speaks, never logs on with the run's identity.
void NoCredentials(SMBCCTX*, const char*, const char*, char*, int, char*, int, char*, int) {}

[[noreturn]] void ProbeSmb1InChild(const std::string& server, int timeout_ms) {
  SMBCCTX* context = smbc_new_context();
  if (context == nullptr) ::_exit(kSmb1Refused);
  smbc_setDebug(context, 0);
  smbc_setOptionDebugToStderr(context, 1);
  smbc_setTimeout(context, timeout_ms);
  smbc_setPort(context, 445);
  smbc_setFunctionAuthDataWithContext(context, NoCredentials);
  smbc_setOptionProtocols(context, "NT1", "NT1");
  if (smbc_init_context(context) == nullptr) ::_exit(kSmb1Refused);
  const std::string url = "smb://" + server + "/IPC$";
  errno = 0;
  SMBCFILE* dir = smbc_getFunctionOpendir(context)(context, url.c_str());
  // Anything but a dropped or refused connection means that the SMB1
  // negotiation went through (the anonymous logon may well fail after it).
  const int error = errno;
  ::_exit(dir != nullptr || (!DroppedDuringNegotiation(error) && error != ECONNREFUSED &&
                             error != ETIMEDOUT && error != EHOSTUNREACH)
              ? kSmb1Answered
              : kSmb1Refused);
}

}  // namespace

bool IsSmbTransportError(int error) {
  switch (error) {
    case ETIMEDOUT:
    case ECONNREFUSED:
    case ECONNRESET:
    case ECONNABORTED:
    case EHOSTUNREACH:
    case EHOSTDOWN:
    case ENETUNREACH:
    case ENOTCONN:
    case EPIPE:
    case EIO:
      return true;
    default:
      return false;
  }
}

bool AnswersSmb1(const std::string& server, int timeout_ms) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) ProbeSmb1InChild(server, timeout_ms);
  // Bounded: the probe's own requests time out, and a child that hangs
  // beyond that is ended.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms * 2);
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == kSmb1Answered;
}

Status DescribeSmbFailure(int error, const std::string& what, const SmbFailureContext& context) {
  const std::string who = Who(context);
  const int64_t transport = win32::kBadNetPath;
  if (!context.connected) {
    switch (error) {
      case ECONNREFUSED:
        return Status::Failure(transport, who + ": connection refused: nothing listens on the SMB "
                                                "port 445 (file sharing off, or a firewall)");
      case ETIMEDOUT:
        return Status::Failure(transport, who + ": connection timed out: the SMB port 445 does "
                                                "not answer (a firewall that drops it?)");
      case EHOSTUNREACH:
      case EHOSTDOWN:
      case ENETUNREACH:
        return Status::Failure(transport, who + ": unreachable: " + std::strerror(error));
      default:
        break;
    }
    if (DroppedDuringNegotiation(error)) {
      if (AnswersSmb1(context.server, 5000)) {
        return Status::Failure(transport, who + ": the server offers no SMB2 or SMB3, only SMB1, "
                                                "which Hostlore does not use");
      }
      return Status::Failure(transport,
                             who + ": the server closed the connection while the protocol was "
                                   "being negotiated");
    }
    if (error == EACCES || error == EPERM || (context.kerberos && error == EINVAL)) {
      if (!context.kerberos) {
        return Status::Failure(win32::kAccessDenied,
                               who + ": logon refused for " + context.user +
                                   ": wrong password or unknown user");
      }
      if (context.server == context.address) {
        return Status::Failure(
            win32::kAccessDenied,
            who + ": Kerberos needs a host name (service principal cifs/NAME), and no name "
                  "leads to this address: give the target by a name that resolves to it, add a "
                  "reverse lookup for it, or use NTLM (HOSTLORE_AUTH_FILE)");
      }
      return Status::Failure(win32::kAccessDenied,
                             who + ": Kerberos logon failed: no valid ticket in the cache "
                                   "(KRB5CCNAME), or none could be had for cifs/" +
                                 context.server);
    }
  }
  const std::string description = who + ": " + what + ": " + std::strerror(error);
  if (IsSmbTransportError(error)) return Status::Failure(transport, description);
  switch (error) {
    case EACCES:
    case EPERM:
      return Status::Failure(win32::kAccessDenied, description);
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return Status::Failure(win32::kFileNotFound, description);
    default:
      return Status::Failure(transport, description);
  }
}

}  // namespace hostlore
