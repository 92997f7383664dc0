// The SMB sessions of a run: one per target host, created on first use and
// shared by the registry, service and share seams for the rest of the run.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/network/credentials.h"
#include "platform/network/smb/smb_session.h"
#include "platform/network/target_names.h"
#include "platform/status.h"

namespace hostlore {

class SmbTargets {
 public:
  // `names` tells the host name by which Kerberos reaches an address.
  explicit SmbTargets(std::shared_ptr<TargetNames> names = std::make_shared<TargetNames>())
      : names_(std::move(names)) {}
  SmbTargets(const SmbTargets&) = delete;
  SmbTargets& operator=(const SmbTargets&) = delete;

  // The session to `host`: with Kerberos its requests name the host name
  // that `names` gives for it (the address when there is none), with NTLM
  // `host` itself. The credentials are read on the first call.
  // Failure: they cannot be read (for example an authentication file that
  // others may read), or no client context can be made.
  Result<std::shared_ptr<SmbSession>> SessionFor(const std::string& host);
  // Another session to `host`, besides the one SessionFor gives: same
  // credentials and server name, and the same link (either going down
  // takes both down). Nothing is sent yet. Failure: as SessionFor.
  Result<std::shared_ptr<SmbSession>> ExtraSession(const std::string& host);
  // The failure that took `host`'s session down, if it went down.
  Status Lost(const std::string& host) const;

  // Sessions of their own, for another thread, authenticating by the names
  // known now (a copy: the names are not shared between threads).
  std::shared_ptr<SmbTargets> Another() const {
    return std::make_shared<SmbTargets>(std::make_shared<TargetNames>(*names_));
  }

 private:
  std::shared_ptr<TargetNames> names_;
  std::optional<Result<NetworkCredentials>> credentials_;
  std::map<std::string, std::shared_ptr<SmbSession>> sessions_;
};

// A bound RPC channel on pipe `pipe` of `host`'s session. Failure: a
// Win32 code (53 unreachable, 5 refused, 1722 no such interface).
Result<std::unique_ptr<rpc::RpcChannel>> OpenRpcChannel(SmbTargets& targets,
                                                        const std::string& host,
                                                        const std::string& pipe,
                                                        const rpc::SyntaxId& interface_id);
// The same on `session`.
Result<std::unique_ptr<rpc::RpcChannel>> OpenRpcChannel(SmbSession& session,
                                                        const std::string& pipe,
                                                        const rpc::SyntaxId& interface_id);

}  // namespace hostlore
