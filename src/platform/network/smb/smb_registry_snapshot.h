// The registry snapshot, an opt-in route of the walk: when a walk of a
// listed key begins, the key and its subtree are saved on the target to a
// temporary file (BaseRegSaveKey) in the Temp folder behind ADMIN$,
// fetched over ADMIN$ in one transfer, removed at once, and read here with
// libhivex. The walk's keys are then answered from the file.
//
// It writes to the target, and some endpoint-security products flag remote
// hive saves, so it is never the default: HOSTLORE_REGISTRY_SNAPSHOT=1
// turns it on. A snapshot that fails leaves the walk to the pipes.
//
// The temporary file exists on the target only within SnapshotKey: the
// transfer's reads and the removal each wait at most the SMB request
// time-out. A run ended in that moment (a termination signal, SIGKILL) or a
// target that stops answering then leaves it behind.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/network/rpc/winreg_client.h"
#include "platform/network/smb/hive_file.h"
#include "platform/network/smb/smb_session.h"
#include "platform/network/smb/smb_targets.h"

namespace hostlore {

// Whether HOSTLORE_REGISTRY_SNAPSHOT is "1".
bool RegistrySnapshotWanted();

// The largest snapshot fetched; a larger file is removed unread.
inline constexpr size_t kMaxSnapshotBytes = 64 << 20;

// Saves `key` (open on `client`, a pipe of `session`'s target) to a
// temporary file on the target, fetches it over `session`, removes it and
// reads it. `admin_path` is the folder behind ADMIN$ as the target names
// it (AdminSharePath). Failure: the step that failed, and why.
Result<std::unique_ptr<HiveFile>> SnapshotKey(SmbSession& session, winreg::WinregClient& client,
                                              const rpc::ContextHandle& key,
                                              const std::string& admin_path);

// The folder behind ADMIN$ on `session`'s target ("C:\Windows"), asked of
// its server service.
Result<std::string> AdminSharePath(SmbSession& session);

// What takes the snapshot of a key open on a pipe of `host`, through
// `targets`' session to it; null unless RegistrySnapshotWanted().
using SnapshotMaker = std::function<Result<std::unique_ptr<HiveFile>>(
    winreg::WinregClient& client, const rpc::ContextHandle& key)>;
SnapshotMaker RegistrySnapshotMaker(std::shared_ptr<SmbTargets> targets, std::string host);

}  // namespace hostlore
