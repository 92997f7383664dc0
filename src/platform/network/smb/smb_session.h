// One SMB client for one target, kept for the whole run: a libsmbclient
// context whose connections (IPC$ for the pipes, one per administrative
// share) stay open between calls, so that a value read costs RPC round
// trips only, never a new session.
//
// Time bounds: every SMB request waits at most kSmbRequestTimeoutMs for its
// answer; the TCP connect is bounded by libsmbclient's own connect time-out
// (not measured here: the tests' peers refuse or answer at once). The first failure
// of the transport (time-out, reset, refused) marks the session down, and
// every later call on it fails at once: a target that stops answering
// mid-run costs one bounded wait, not one per value.
//
// Not safe for concurrent use (libsmbclient keeps per-call state for the
// whole process): the agent examines one target on one thread, and the
// registry walk's extra pipes are processes of their own. A target's
// sessions share whether its transport failed (TargetLink).
#pragma once

#include <sys/statvfs.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/network/rpc/rpc_channel.h"
#include "platform/network/credentials.h"
#include "platform/status.h"

struct _SMBCCTX;

namespace hostlore {

inline constexpr int kSmbRequestTimeoutMs = 5000;
// ERROR_BAD_NET_NAME: the share does not exist.
inline constexpr int64_t kBadNetName = 67;

class SmbPipe;

// What the sessions of one target share: whether its transport failed. The
// first failure of any of them takes all of them down.
class TargetLink {
 public:
  const Status& down() const { return down_; }
  void MarkDown(const Status& why) {
    if (down_.ok()) down_ = why;
  }

 private:
  Status down_;
};

class SmbSession : public std::enable_shared_from_this<SmbSession> {
 public:
  // A session to `host` (a dotted address or a name), whose requests name
  // the server `server` (a host name that leads to `host`, for Kerberos;
  // empty: `host` itself). Nothing is sent yet: the first pipe or share
  // opens the connection. `link` is shared with the target's other
  // sessions (null: a link of its own); `reached` says that the target has
  // answered another session already, so that a failure is about this
  // request, not about reaching the server. Failure: the context cannot be
  // created.
  static Result<std::shared_ptr<SmbSession>> Create(const std::string& host,
                                                    const std::string& server,
                                                    const NetworkCredentials& credentials,
                                                    std::shared_ptr<TargetLink> link = nullptr,
                                                    bool reached = false);

  SmbSession(const SmbSession&) = delete;
  SmbSession& operator=(const SmbSession&) = delete;
  ~SmbSession();

  // Opens named pipe `name` (such as "winreg") in IPC$. Failure: a Win32
  // code (53 unreachable, 5 refused, 2 no such pipe).
  Result<std::unique_ptr<SmbPipe>> OpenPipe(std::string_view name);

  // The statvfs of share `share`. Failure: a Win32 code (53, 5, 67).
  Result<struct statvfs> ShareStatVfs(std::string_view share);

  // The content of file `path` ('/'-separated) in share `share`, when it
  // is at most `limit` bytes. Failure: a Win32 code.
  Result<std::string> ReadFile(std::string_view share, std::string_view path, size_t limit);
  // Removes file `path` of share `share`. Failure: a Win32 code.
  Status RemoveFile(std::string_view share, std::string_view path);

  const std::string& host() const { return host_; }
  const std::string& server() const { return server_; }
  const NetworkCredentials& credentials() const { return credentials_; }
  // Success while the transport to the target has not failed (on this
  // session or another of the target's); its failure afterwards.
  Status down() const { return link_->down(); }
  const std::shared_ptr<TargetLink>& link() const { return link_; }

  // The Win32-style failure for libsmbclient's `error` (an errno value)
  // while doing `what`, told as smb_failure.h does; marks the session down
  // for a transport failure.
  Status Fail(int error, const std::string& what);

  _SMBCCTX* context() const { return context_; }

 private:
  struct Key {};

 public:
  SmbSession(Key, std::string host, std::string server, NetworkCredentials credentials,
             std::shared_ptr<TargetLink> link, bool reached);

 private:
  std::string Url(std::string_view share_and_path) const;

  std::string host_;
  std::string server_;
  NetworkCredentials credentials_;
  _SMBCCTX* context_ = nullptr;
  bool connected_ = false;  // a pipe or share has opened
  std::shared_ptr<TargetLink> link_;
};

// A named pipe in IPC$ of a session: the transport of one RPC interface.
class SmbPipe final : public rpc::PduTransport {
 public:
  SmbPipe(std::shared_ptr<SmbSession> session, void* file);
  ~SmbPipe() override;

  Status Write(std::string_view bytes) override;
  Status Read(size_t count, std::string& out) override;

 private:
  std::shared_ptr<SmbSession> session_;
  void* file_;  // SMBCFILE*, closed with the pipe
};

}  // namespace hostlore
