#include "platform/network/smb/smb_registry_snapshot.h"

#include <sys/random.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/network/rpc/srvsvc_share_path.h"
#include "platform/network/smb/smb_targets.h"

namespace hostlore {
namespace {

constexpr const char* kAdminShare = "ADMIN$";

// A name no earlier run left behind: BaseRegSaveKey will not overwrite.
std::string TemporaryName() {
  unsigned char random[8] = {};
  if (getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) {
    const auto fallback = static_cast<unsigned long>(::getpid()) ^ static_cast<unsigned long>(time(nullptr));
    std::memcpy(random, &fallback, std::min(sizeof fallback, sizeof random));
  }
  std::string name = "hostlore-";
  for (unsigned char byte : random) {
    static const char kHex[] = "0123456789abcdef";
    name += kHex[byte >> 4];
    name += kHex[byte & 15];
  }
  return name + ".tmp";
}

}  // namespace

bool RegistrySnapshotWanted() {
  const char* wanted = secure_getenv("HOSTLORE_REGISTRY_SNAPSHOT");
  return wanted != nullptr && std::strcmp(wanted, "1") == 0;
}

Result<std::string> AdminSharePath(SmbSession& session) {
  Result<std::unique_ptr<rpc::RpcChannel>> channel =
      OpenRpcChannel(session, "srvsvc", srvsvc::InterfaceId());
  if (!channel.ok()) return channel.status();
  return srvsvc::SharePath(*channel.value(), kAdminShare);
}

Result<std::unique_ptr<HiveFile>> SnapshotKey(SmbSession& session, winreg::WinregClient& client,
                                              const rpc::ContextHandle& key,
                                              const std::string& admin_path) {
  const std::string name = TemporaryName();
  const std::string on_target = admin_path + "\\Temp\\" + name;
  const std::string in_share = "Temp/" + name;
  Result<std::string> bytes = Status::Failure(0, "");
  {
    const Status saved = client.SaveKey(key, on_target);
    bytes = saved.ok() ? session.ReadFile(kAdminShare, in_share, kMaxSnapshotBytes)
                       : Result<std::string>(saved);
    // Removed whatever came of the save: a reply lost on the way may hide
    // a file that was written all the same.
    if (saved.ok() || client.channel().broken()) {
      if (Status removed = session.RemoveFile(kAdminShare, in_share);
          !removed.ok() && removed.number() != win32::kFileNotFound) {
        const std::string line = "hostlore: the registry snapshot " + on_target + " on " +
                                 session.host() + " could not be removed: " +
                                 removed.description() + "\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
      }
    }
  }
  if (!bytes.ok()) return bytes.status();
  return HiveFile::Parse(bytes.value());
}

SnapshotMaker RegistrySnapshotMaker(std::shared_ptr<SmbTargets> targets, std::string host) {
  if (!RegistrySnapshotWanted()) return nullptr;
  auto admin_path = std::make_shared<std::optional<Result<std::string>>>();
  return [targets = std::move(targets), host = std::move(host), admin_path](
             winreg::WinregClient& client,
             const rpc::ContextHandle& key) -> Result<std::unique_ptr<HiveFile>> {
    Result<std::shared_ptr<SmbSession>> session = targets->SessionFor(host);
    if (!session.ok()) return session.status();
    if (!admin_path->has_value()) admin_path->emplace(AdminSharePath(*session.value()));
    if (!(*admin_path)->ok()) return (*admin_path)->status();
    return SnapshotKey(*session.value(), client, key, (*admin_path)->value());
  };
}

}  // namespace hostlore
