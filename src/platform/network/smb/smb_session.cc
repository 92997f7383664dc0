#include "platform/network/smb/smb_session.h"

#include <libsmbclient.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/network/smb/smb_failure.h"

namespace hostlore {
namespace {

void CopyInto(char* destination, int size, const std::string& text) {
  if (size <= 0) return;
  const size_t length = std::min(text.size(), static_cast<size_t>(size) - 1);
  std::memcpy(destination, text.data(), length);
  destination[length] = '\0';
}

// libsmbclient asks for credentials through this; the session's own come
// back, never anything typed or taken from the command line.
void ProvideCredentials(SMBCCTX* context, const char*, const char*, char* workgroup,
                        int workgroup_size, char* user, int user_size, char* password,
                        int password_size) {
  auto* credentials = static_cast<const NetworkCredentials*>(smbc_getOptionUserData(context));
  if (credentials == nullptr || credentials->kerberos) return;
  if (!credentials->domain.empty()) CopyInto(workgroup, workgroup_size, credentials->domain);
  CopyInto(user, user_size, credentials->username);
  CopyInto(password, password_size, credentials->password);
}

// Samba's own messages (a Kerberos attempt that cannot be made, say) go to
// standard error, never to standard output, which may be the progress
// channel. The reasons that matter reach the log through the failures.
void LibraryMessage(void*, int, const char* message) {
  std::string line = std::string("libsmbclient: ") + message;
  if (line.back() != '\n') line += '\n';
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
}

}  // namespace

Result<std::shared_ptr<SmbSession>> SmbSession::Create(const std::string& host,
                                                       const std::string& server,
                                                       const NetworkCredentials& credentials,
                                                       std::shared_ptr<TargetLink> link,
                                                       bool reached) {
  if (!link) link = std::make_shared<TargetLink>();
  auto session = std::make_shared<SmbSession>(Key{}, host, server.empty() ? host : server,
                                              credentials, std::move(link), reached);
  if (session->context_ == nullptr) {
    return Status::Failure(win32::kBadNetPath, "cannot create an SMB client context");
  }
  return session;
}

SmbSession::SmbSession(Key, std::string host, std::string server, NetworkCredentials credentials,
                       std::shared_ptr<TargetLink> link, bool reached)
    : host_(std::move(host)), server_(std::move(server)), credentials_(std::move(credentials)),
      connected_(reached), link_(std::move(link)) {
  SMBCCTX* context = smbc_new_context();
  if (context == nullptr) return;
  // Both global to the process, and set before the library's first
  // initialisation, which sets up its logging.
  smbc_setLogCallback(context, nullptr, LibraryMessage);
  smbc_setOptionDebugToStderr(context, 1);
  smbc_setDebug(context, 0);
  smbc_setTimeout(context, kSmbRequestTimeoutMs);
  // Straight to SMB over TCP: the NetBIOS port 139, which libsmbclient
  // would try first for IPC$, serves nothing SMB2 needs, and a firewall
  // that drops it would cost a time-out on every connection.
  smbc_setPort(context, 445);
  smbc_setOptionUserData(context, &credentials_);
  smbc_setFunctionAuthDataWithContext(context, ProvideCredentials);
  smbc_setOptionNoAutoAnonymousLogin(context, 1);
  smbc_setOptionUseKerberos(context, credentials_.kerberos ? 1 : 0);
  smbc_setOptionFallbackAfterKerberos(context, 0);
  smbc_setOptionUseCCache(context, credentials_.kerberos ? 1 : 0);
  if (smbc_init_context(context) == nullptr) {
    smbc_free_context(context, 1);
    return;
  }
  context_ = context;
}

SmbSession::~SmbSession() {
  // Freeing the context closes its files and connections politely, which
  // against a target that stopped answering costs a time-out per request.
  // A dead session's context is left to the end of the process instead.
  if (context_ != nullptr && down().ok()) smbc_free_context(context_, 1);
}

std::string SmbSession::Url(std::string_view share_and_path) const {
  return "smb://" + server_ + "/" + std::string(share_and_path);
}

Status SmbSession::Fail(int error, const std::string& what) {
  SmbFailureContext context;
  context.server = server_;
  context.address = host_;
  context.kerberos = credentials_.kerberos;
  context.user = credentials_.domain.empty() ? credentials_.username
                                             : credentials_.domain + "\\" + credentials_.username;
  context.connected = connected_;
  Status failure = DescribeSmbFailure(error, what, context);
  if (IsSmbTransportError(error)) link_->MarkDown(failure);
  return failure;
}

Result<std::unique_ptr<SmbPipe>> SmbSession::OpenPipe(std::string_view name) {
  if (Status lost = down(); !lost.ok()) return lost;
  const std::string url = Url("IPC$/" + std::string(name));
  errno = 0;
  SMBCFILE* file = smbc_getFunctionOpen(context_)(context_, url.c_str(), O_RDWR, 0);
  if (file == nullptr) {
    const int error = errno != 0 ? errno : EIO;
    // libsmbclient's errno for STATUS_PIPE_NOT_AVAILABLE: a pipe whose
    // service starts on its first open and is not serving yet.
    if (error == ENOSYS) {
      connected_ = true;
      return Status::Failure(win32::kPipeBusy,
                             host_ + ": opening pipe " + std::string(name) + ": pipe not available");
    }
    return Fail(error, "opening pipe " + std::string(name));
  }
  connected_ = true;
  return std::make_unique<SmbPipe>(shared_from_this(), file);
}

Result<struct statvfs> SmbSession::ShareStatVfs(std::string_view share) {
  if (Status lost = down(); !lost.ok()) return lost;
  std::string url = Url(std::string(share) + "/");
  struct statvfs info {};
  errno = 0;
  if (smbc_getFunctionStatVFS(context_)(context_, url.data(), &info) != 0) {
    const int error = errno != 0 ? errno : EIO;
    Status failed = Fail(error, "share " + std::string(share));
    if (failed.number() == win32::kFileNotFound) {
      return Status::Failure(kBadNetName, failed.description());
    }
    return failed;
  }
  connected_ = true;
  return info;
}

Result<std::string> SmbSession::ReadFile(std::string_view share, std::string_view path,
                                         size_t limit) {
  if (Status lost = down(); !lost.ok()) return lost;
  const std::string url = Url(std::string(share) + "/" + std::string(path));
  const std::string what = "reading " + std::string(share) + "/" + std::string(path);
  errno = 0;
  SMBCFILE* file = smbc_getFunctionOpen(context_)(context_, url.c_str(), O_RDONLY, 0);
  if (file == nullptr) return Fail(errno != 0 ? errno : EIO, what);
  connected_ = true;
  struct FileCloser {
    SMBCCTX* context;
    SMBCFILE* file;
    const SmbSession& session;
    ~FileCloser() {
      if (session.down().ok()) smbc_getFunctionClose(context)(context, file);
    }
  } closer{context_, file, *this};
  struct stat info {};
  if (smbc_getFunctionFstat(context_)(context_, file, &info) != 0) {
    return Fail(errno != 0 ? errno : EIO, what);
  }
  if (info.st_size < 0 || static_cast<size_t>(info.st_size) > limit) {
    return Status::Failure(win32::kMoreData, what + ": larger than " + std::to_string(limit) +
                                                 " bytes");
  }
  // Reads of a few hundred kilobytes: libsmbclient keeps several requests
  // in flight for each.
  constexpr size_t kChunk = 256 * 1024;
  std::string content;
  for (;;) {
    const size_t at = content.size();
    content.resize(at + kChunk);
    errno = 0;
    const ssize_t n = smbc_getFunctionRead(context_)(context_, file, content.data() + at, kChunk);
    if (n < 0) return Fail(errno != 0 ? errno : EIO, what);
    content.resize(at + static_cast<size_t>(n));
    if (n == 0) return content;
    if (content.size() > limit) {
      return Status::Failure(win32::kMoreData, what + ": larger than " + std::to_string(limit) +
                                                   " bytes");
    }
  }
}

Status SmbSession::RemoveFile(std::string_view share, std::string_view path) {
  if (Status lost = down(); !lost.ok()) return lost;
  const std::string url = Url(std::string(share) + "/" + std::string(path));
  errno = 0;
  if (smbc_getFunctionUnlink(context_)(context_, url.c_str()) != 0) {
    return Fail(errno != 0 ? errno : EIO, "removing " + std::string(share) + "/" + std::string(path));
  }
  return Status::Ok();
}

SmbPipe::SmbPipe(std::shared_ptr<SmbSession> session, void* file)
    : session_(std::move(session)), file_(file) {}

SmbPipe::~SmbPipe() {
  if (!session_->down().ok()) return;  // see ~SmbSession
  SMBCCTX* context = session_->context();
  smbc_getFunctionClose(context)(context, static_cast<SMBCFILE*>(file_));
}

Status SmbPipe::Write(std::string_view bytes) {
  if (Status lost = session_->down(); !lost.ok()) return lost;
  SMBCCTX* context = session_->context();
  size_t done = 0;
  while (done < bytes.size()) {
    errno = 0;
    const ssize_t n = smbc_getFunctionWrite(context)(context, static_cast<SMBCFILE*>(file_),
                                                     bytes.data() + done, bytes.size() - done);
    if (n <= 0) return session_->Fail(errno != 0 ? errno : EIO, "writing to a pipe");
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

Status SmbPipe::Read(size_t count, std::string& out) {
  if (Status lost = session_->down(); !lost.ok()) return lost;
  SMBCCTX* context = session_->context();
  out.assign(count, '\0');
  size_t done = 0;
  while (done < count) {
    errno = 0;
    const ssize_t n = smbc_getFunctionRead(context)(context, static_cast<SMBCFILE*>(file_),
                                                    out.data() + done, count - done);
    if (n <= 0) return session_->Fail(errno != 0 ? errno : EIO, "reading from a pipe");
    done += static_cast<size_t>(n);
  }
  return Status::Ok();
}

}  // namespace hostlore
