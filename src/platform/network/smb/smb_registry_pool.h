// Registry keys of one target read ahead on pipes of their own, in
// parallel. libsmbclient's calls wait for their answer and an RPC pipe
// answers one call per read, so a pipe carries one round trip at a time;
// several pipes carry several. libsmbclient keeps per-call state for the
// whole process, so each extra pipe is a worker process of its own, forked
// when the first walk needs it, with a session of its own to the target.
// A worker reads whole keys: it opens a batch of keys and queries the names
// asked for; or it lists a batch of a key's subkeys. It leaves the keys
// open (closing one costs a round trip); they close with its pipe.
//
// The agent queues keys and takes each read when it needs it, waiting for
// it if it is still on its way; while it waits, it hands the workers more.
// A key that no worker could read (its session failed, or the worker
// ended) comes back as not fetched: the caller reads it itself, and gets
// whatever single reads give. A worker that finds the target lost says so,
// and the agent's own sessions to it go down with it.
#pragma once

#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/network/smb/registry_key_read.h"
#include "platform/network/smb/smb_session.h"
#include "platform/network/smb/smb_targets.h"
#include "util/unique_fd.h"

namespace hostlore {

// MAXIMUM_ALLOWED, as RegConnectRegistry asks for a hive.
inline constexpr uint32_t kMaximumAllowed = 0x02000000;

class RegistryPool {
 public:
  using SessionMaker = std::function<Result<std::shared_ptr<SmbSession>>()>;

  // Forks `workers` worker processes; each makes its session with
  // `make_session` and opens its pipe at once (a worker that cannot ends,
  // and its work goes to the others). `link` is the agent's own link to
  // the target.
  RegistryPool(size_t workers, const SessionMaker& make_session, std::shared_ptr<TargetLink> link);
  // Ends the workers: each finishes the batch on its way (at most a few
  // SMB request time-outs; none when the target is lost); queued keys are
  // dropped.
  ~RegistryPool();
  RegistryPool(const RegistryPool&) = delete;
  RegistryPool& operator=(const RegistryPool&) = delete;

  // Queues `paths` (below the root of `hive`, in the caller's spelling) to
  // be opened with `access` and read for `names`; paths already queued are
  // skipped. Keys are read in the order queued.
  void Fetch(Hive hive, const std::vector<std::string>& paths, uint32_t access,
             const std::vector<winreg::WinregClient::WantedValue>& names);
  // Queues the listing of `key` (opened by `path`) from index `first`,
  // `count` names; Take(ListingId(key, first)) gives it, its subkeys in
  // `subkeys`.
  void List(const KeyId& key, const std::string& path, uint32_t first, uint32_t count);
  // Drops the listings of `key` queued from index `from` on and not yet
  // handed to a worker (the listing has ended before them).
  void DropListings(const KeyId& key, uint32_t from);
  bool Queued(const KeyId& key) const { return keys_.count(key) != 0; }
  // The read of `key`, once done, taken out of the pool; nullopt when it
  // was never queued (or taken already).
  std::optional<KeyRead> Take(const KeyId& key);

  size_t pipes() const { return workers_.size(); }
  // Workers that have not ended.
  size_t working() const {
    return static_cast<size_t>(
        std::count_if(workers_.begin(), workers_.end(), [](const Worker& w) { return w.socket.valid(); }));
  }

 private:
  struct Worker {
    pid_t pid = -1;
    UniqueFd socket;  // closed: the worker has ended
    std::string out, in;  // frames to send, bytes received
    std::deque<std::vector<KeyId>> sent;  // batches on their way, in order
  };
  struct Batch {
    std::vector<KeyId> ids;
    std::string frame;
    std::optional<std::pair<KeyId, uint32_t>> listing;  // a listing job: its key and first index
  };

  // Hands queued batches to workers with room; sends and receives what
  // can be; with `wait`, waits for something to arrive first.
  void Pump(bool wait);
  void Received(Worker& worker, char type, std::string_view payload);
  // A worker ended: what it had not read is not fetched.
  void Gone(Worker& worker);

  std::deque<Batch> queue_;
  // Queued or on their way (nullopt), or read.
  std::map<KeyId, std::optional<KeyRead>> keys_;
  std::vector<Worker> workers_;
  std::shared_ptr<TargetLink> link_;
};

// Extra pipes a walk uses per target, each a session of its own besides the
// run's: HOSTLORE_REGISTRY_PIPES when it is a number from 0 (none: the
// run's pipe reads alone) to kMaxWalkPipes, kDefaultWalkPipes otherwise.
inline constexpr size_t kDefaultWalkPipes = 16;
inline constexpr size_t kMaxWalkPipes = 16;
size_t WalkPipes();
// True when HOSTLORE_REGISTRY_PIPES names the number of extra pipes. Left
// unset, the pipes are started only for a walk that would take long on the
// run's pipe alone (see WorthExtraPipes).
bool WalkPipesChosen();
// Whether extra pipes pay for themselves on a walk of `keys` keys when one
// round trip takes `round_trip`: each key costs the run's pipe about three
// round trips, and starting the workers and their sessions costs about a
// second on a local network, so a walk of less than that runs alone.
bool WorthExtraPipes(size_t keys, std::chrono::steady_clock::duration round_trip);

// What makes the pool of `host`'s walks, with WalkPipes() sessions of
// `targets`; null when WalkPipes() is 0.
std::function<std::unique_ptr<RegistryPool>()> RegistryPoolMaker(
    std::shared_ptr<SmbTargets> targets, std::string host);

}  // namespace hostlore
