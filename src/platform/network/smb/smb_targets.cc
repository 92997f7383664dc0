#include "platform/network/smb/smb_targets.h"

namespace hostlore {

Result<std::shared_ptr<SmbSession>> SmbTargets::SessionFor(const std::string& host) {
  if (!credentials_) credentials_.emplace(LoadNetworkCredentials());
  if (!credentials_->ok()) return credentials_->status();
  if (auto found = sessions_.find(host); found != sessions_.end()) return found->second;
  const NetworkCredentials& credentials = credentials_->value();
  // NTLM needs no name: it reaches the target as it is named.
  const std::string server = credentials.kerberos ? names_->NameFor(host) : host;
  Result<std::shared_ptr<SmbSession>> created = SmbSession::Create(host, server, credentials);
  if (created.ok()) sessions_.emplace(host, created.value());
  return created;
}

Result<std::shared_ptr<SmbSession>> SmbTargets::ExtraSession(const std::string& host) {
  Result<std::shared_ptr<SmbSession>> main = SessionFor(host);
  if (!main.ok()) return main.status();
  const SmbSession& first = *main.value();
  return SmbSession::Create(host, first.server(), first.credentials(), first.link(), true);
}

Status SmbTargets::Lost(const std::string& host) const {
  auto found = sessions_.find(host);
  return found == sessions_.end() ? Status::Ok() : found->second->down();
}

Result<std::unique_ptr<rpc::RpcChannel>> OpenRpcChannel(SmbTargets& targets,
                                                        const std::string& host,
                                                        const std::string& pipe,
                                                        const rpc::SyntaxId& interface_id) {
  Result<std::shared_ptr<SmbSession>> session = targets.SessionFor(host);
  if (!session.ok()) return session.status();
  return OpenRpcChannel(*session.value(), pipe, interface_id);
}

Result<std::unique_ptr<rpc::RpcChannel>> OpenRpcChannel(SmbSession& session,
                                                        const std::string& pipe,
                                                        const rpc::SyntaxId& interface_id) {
  Result<std::unique_ptr<SmbPipe>> opened = session.OpenPipe(pipe);
  if (!opened.ok()) {
    // No such pipe: nothing serves the interface there.
    if (opened.status().number() == win32::kFileNotFound) {
      return Status::Failure(win32::kRpcServerUnavailable, opened.status().description());
    }
    return opened.status();
  }
  return rpc::RpcChannel::Bind(std::move(opened).value(), interface_id);
}

}  // namespace hostlore
