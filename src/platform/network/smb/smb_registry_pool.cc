#include "platform/network/smb/smb_registry_pool.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <chrono>
#include <algorithm>
#include <cstdlib>
#include <thread>

#include "platform/network/smb/smb_targets.h"

namespace hostlore {
namespace {

// Keys a pipe opens and reads per exchange. Fewer would cost a write per
// key; more would leave the other pipes idle while the first keys, which
// the caller waits for, are still in one pipe's batch.
constexpr size_t kKeysPerExchange = 8;
// Batches a worker holds at once: the one it reads and the next, so that it
// never waits for the agent between them. The rest stay queued for the
// first worker that is free: handed out at once, they would leave some
// workers a batch more than others at the end of a walk.
constexpr size_t kBatchesPerWorker = 2;
// Keys a worker leaves open: a close costs a round trip, and the target
// closes every key of a pipe when the pipe closes. Past this many, the
// oldest are closed along with the next requests.
constexpr size_t kKeysLeftOpen = 1024;
// A worker that has sent nothing for this long while it had work is given
// up: its own requests each end within the SMB request time-out.
constexpr int kWorkerSilenceMs = 2 * kSmbRequestTimeoutMs + 1000;

// A frame: its length (of what follows), a type, the payload.
constexpr char kJobFrame = 'J', kReadsFrame = 'R', kLostFrame = 'L';

std::string Frame(char type, std::string_view payload) {
  const auto length = static_cast<uint32_t>(payload.size() + 1);
  std::string frame(reinterpret_cast<const char*>(&length), sizeof length);
  frame += type;
  frame += payload;
  return frame;
}

// The first whole frame at the start of `bytes`, taken out of it: its
// type and payload; nullopt while none has come whole.
std::optional<std::pair<char, std::string>> TakeFrame(std::string& bytes) {
  uint32_t length = 0;
  if (bytes.size() < sizeof length) return std::nullopt;
  std::memcpy(&length, bytes.data(), sizeof length);
  if (length == 0 || bytes.size() - sizeof length < length) return std::nullopt;
  std::pair<char, std::string> frame{bytes[sizeof length],
                                     bytes.substr(sizeof length + 1, length - 1)};
  bytes.erase(0, sizeof length + length);
  return frame;
}

// A key a worker has done with: left open (see kKeysLeftOpen).
void LeaveOpen(winreg::WinregClient& client, std::deque<rpc::ContextHandle>& open, const rpc::ContextHandle& key) {
  open.push_back(key);
  if (open.size() <= kKeysLeftOpen) return;
  client.CloseLater(open.front());
  open.pop_front();
}

// The root of `hive` on `client`, opened on first use; nullopt when it
// cannot be opened there.
std::optional<rpc::ContextHandle> HiveRoot(winreg::WinregClient& client, std::map<Hive, rpc::ContextHandle>& hives,
                                           Hive hive) {
  auto root = hives.find(hive);
  if (root == hives.end()) {
    Result<rpc::ContextHandle> opened = client.OpenHive(hive, kMaximumAllowed);
    if (!opened.ok()) return std::nullopt;
    root = hives.emplace(hive, opened.value()).first;
  }
  return root->second;
}

// The keys `paths` read on `client`; nullopt when the hive cannot be
// opened there.
std::optional<std::vector<KeyRead>> ReadKeys(winreg::WinregClient& client,
                                             std::map<Hive, rpc::ContextHandle>& hives,
                                             std::deque<rpc::ContextHandle>& left_open, const KeyJob& job) {
  const Hive hive = job.hive;
  const std::vector<std::string>& paths = job.paths;
  const uint32_t access = job.access;
  const auto& names = job.names;
  const size_t count = paths.size();
  std::vector<KeyRead> reads(count);
  const std::optional<rpc::ContextHandle> root = HiveRoot(client, hives, hive);
  if (!root) return std::nullopt;
  std::vector<Result<rpc::ContextHandle>> handles = client.OpenKeys(*root, paths, access);
  std::vector<rpc::ContextHandle> open;
  for (const auto& handle : handles) {
    if (handle.ok()) open.push_back(handle.value());
  }
  std::vector<std::vector<Result<RegistryValue>>> values;
  if (!open.empty() && !names.empty()) values = client.QueryValues(open, names);
  size_t next = 0;
  for (size_t i = 0; i < count; ++i) {
    reads[i].fetched = true;
    if (!handles[i].ok()) {
      reads[i].opened = handles[i].status();
      continue;
    }
    LeaveOpen(client, left_open, handles[i].value());
    if (values.empty()) continue;
    for (size_t n = 0; n < names.size(); ++n) {
      reads[i].values.insert_or_assign(names[n].name, std::move(values[next][n]));
    }
    ++next;
  }
  return reads;
}

// The listing that `job` asks for, as one read; not fetched when the key
// cannot be opened here (the agent lists it itself and gets the failure).
std::optional<std::vector<KeyRead>> ListKey(winreg::WinregClient& client,
                                            std::map<Hive, rpc::ContextHandle>& hives,
                                            std::deque<rpc::ContextHandle>& left_open, const KeyJob& job) {
  const std::optional<rpc::ContextHandle> root = HiveRoot(client, hives, job.hive);
  if (!root) return std::nullopt;
  std::vector<KeyRead> reads(1);
  std::vector<Result<rpc::ContextHandle>> handle = client.OpenKeys(*root, job.paths, job.access);
  if (handle.size() != 1 || !handle[0].ok()) return reads;
  reads[0].fetched = true;
  reads[0].subkeys = client.EnumKeys(handle[0].value(), job.first, job.count);
  LeaveOpen(client, left_open, handle[0].value());
  return reads;
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool ReceiveAll(int fd, char* into, size_t count) {
  while (count > 0) {
    const ssize_t n = ::recv(fd, into, count, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    into += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

// A worker process: reads the batches the agent sends on `fd` until the
// agent closes it or the target is lost, then ends.
[[noreturn]] void RunWorker(int fd, const RegistryPool::SessionMaker& make_session) {
  // The agent may hold the termination signals for a thread of its own,
  // which a worker does not have: here they take their course.
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  std::shared_ptr<SmbSession> session;
  std::optional<winreg::WinregClient> client;
  std::map<Hive, rpc::ContextHandle> hives;
  std::deque<rpc::ContextHandle> left_open;
  // The session and pipe are made at once, while the agent is still
  // finding work for them: it has started the pool because a long walk has
  // begun.
  if (Result<std::shared_ptr<SmbSession>> made = make_session(); made.ok()) {
    session = std::move(made).value();
    Result<std::unique_ptr<rpc::RpcChannel>> channel = OpenRpcChannel(*session, "winreg", winreg::InterfaceId());
    if (channel.ok()) client.emplace(std::move(channel).value());
  }
  while (client) {
    uint32_t length = 0;
    std::string frame;
    if (!ReceiveAll(fd, reinterpret_cast<char*>(&length), sizeof length) || length == 0) break;
    frame.resize(length);
    if (!ReceiveAll(fd, frame.data(), length) || frame[0] != kJobFrame) break;
    std::optional<KeyJob> job = DecodeKeyJob(std::string_view(frame).substr(1));
    if (!job) break;
    // A broken pipe read nothing that can be trusted: its keys are left to
    // the agent, which learns it when this worker ends.
    std::optional<std::vector<KeyRead>> reads =
        job->count > 0 && job->paths.size() == 1 ? ListKey(*client, hives, left_open, *job)
                                                   : ReadKeys(*client, hives, left_open, *job);
    if (!reads || client->channel().broken()) break;
    if (!SendAll(fd, Frame(kReadsFrame, EncodeKeyReads(*reads)))) break;
  }
  if (session && !session->down().ok()) {
    SendAll(fd, Frame(kLostFrame, EncodeStatus(session->down())));
  } else if (client && !client->channel().broken()) {
    for (const auto& [hive, handle] : hives) client->CloseLater(handle);
    client->FlushCloses();
  }
  // The session ends politely (unless lost); nothing else of the agent's
  // that this process inherited is run or flushed.
  client.reset();
  session.reset();
  ::_exit(0);
}

}  // namespace

RegistryPool::RegistryPool(size_t workers, const SessionMaker& make_session,
                           std::shared_ptr<TargetLink> link)
    : link_(std::move(link)) {
  for (size_t i = 0; i < workers; ++i) {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) break;
    UniqueFd mine(ends[0]), theirs(ends[1]);
    const pid_t pid = ::fork();
    if (pid < 0) break;
    if (pid == 0) {
      // Only its own end stays open: the agent's ends of the other
      // workers must close when the agent closes them.
      mine.reset();
      for (Worker& other : workers_) other.socket.reset();
      RunWorker(theirs.get(), make_session);
    }
    ::fcntl(mine.get(), F_SETFL, O_NONBLOCK);
    workers_.push_back(Worker{pid, std::move(mine), {}, {}, {}});
  }
}

RegistryPool::~RegistryPool() {
  // Closing its end tells a worker to end after the batch on its way; one
  // whose target is lost has nothing worth waiting for.
  const bool lost = !link_->down().ok();
  for (Worker& worker : workers_) {
    worker.socket.reset();
    if (lost) ::kill(worker.pid, SIGKILL);
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kWorkerSilenceMs);
  for (Worker& worker : workers_) {
    while (::waitpid(worker.pid, nullptr, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(worker.pid, SIGKILL);
        ::waitpid(worker.pid, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
}

void RegistryPool::Fetch(Hive hive, const std::vector<std::string>& paths, uint32_t access,
                         const std::vector<winreg::WinregClient::WantedValue>& names) {
  const size_t pipes = working();
  KeyJob job{hive, access, {}, names};
  std::vector<KeyId> ids;
  auto queue = [&] {
    if (job.paths.empty()) return;
    queue_.push_back(Batch{std::move(ids), Frame(kJobFrame, EncodeKeyJob(job)), std::nullopt});
    job.paths.clear();
    ids.clear();
  };
  std::vector<std::pair<const std::string*, KeyId>> fresh;
  for (const std::string& path : paths) {
    KeyId id{hive, LowerRegistryName(path), access};
    if (keys_.count(id) == 0) fresh.emplace_back(&path, std::move(id));
  }
  // Jobs of up to kKeysPerExchange keys, as few rounds of them as the
  // pipes allow, and the keys shared evenly among the jobs: a last round
  // of a few full jobs would leave the other pipes idle.
  const size_t lanes = std::max<size_t>(1, pipes);
  const size_t rounds = std::max<size_t>(1, (fresh.size() + lanes * kKeysPerExchange - 1) / (lanes * kKeysPerExchange));
  const size_t per_job = std::max<size_t>(1, (fresh.size() + lanes * rounds - 1) / (lanes * rounds));
  for (auto& [path, id] : fresh) {
    if (keys_.count(id) != 0) continue;  // the same key asked for twice
    // Nobody left to read it: it is not fetched.
    if (pipes == 0) {
      keys_.emplace(id, KeyRead{});
      continue;
    }
    keys_.emplace(id, std::nullopt);
    job.paths.push_back(*path);
    ids.push_back(std::move(id));
    if (job.paths.size() == per_job) queue();
  }
  queue();
  Pump(false);
}

void RegistryPool::List(const KeyId& key, const std::string& path, uint32_t first, uint32_t count) {
  KeyId id = ListingId(key, first);
  if (keys_.count(id) != 0) return;
  if (working() == 0) {
    keys_.emplace(std::move(id), KeyRead{});
    return;
  }
  KeyJob job{std::get<0>(key), std::get<2>(key), {path}, {}, first, count};
  keys_.emplace(id, std::nullopt);
  queue_.push_back(Batch{{std::move(id)}, Frame(kJobFrame, EncodeKeyJob(job)), std::make_pair(key, first)});
  Pump(false);
}

void RegistryPool::DropListings(const KeyId& key, uint32_t from) {
  std::erase_if(queue_, [&](const Batch& batch) {
    if (!batch.listing || batch.listing->first != key || batch.listing->second < from) return false;
    keys_.erase(batch.ids.front());
    return true;
  });
}

std::optional<KeyRead> RegistryPool::Take(const KeyId& key) {
  auto found = keys_.find(key);
  if (found == keys_.end()) return std::nullopt;
  while (!found->second) {
    if (working() == 0) found->second = KeyRead{};
    else Pump(true);
  }
  std::optional<KeyRead> read = std::move(found->second);
  keys_.erase(found);
  Pump(false);
  return read;
}

void RegistryPool::Pump(bool wait) {
  while (!queue_.empty()) {
    Worker* idlest = nullptr;
    for (Worker& worker : workers_) {
      if (worker.socket.valid() && worker.sent.size() < kBatchesPerWorker &&
          (idlest == nullptr || worker.sent.size() < idlest->sent.size())) {
        idlest = &worker;
      }
    }
    if (idlest == nullptr) break;
    idlest->out += queue_.front().frame;
    idlest->sent.push_back(std::move(queue_.front().ids));
    queue_.pop_front();
  }
  std::vector<pollfd> fds;
  std::vector<Worker*> polled;
  for (Worker& worker : workers_) {
    if (!worker.socket.valid()) continue;
    const short events = static_cast<short>(POLLIN | (worker.out.empty() ? 0 : POLLOUT));
    fds.push_back(pollfd{worker.socket.get(), events, 0});
    polled.push_back(&worker);
  }
  if (fds.empty()) return;
  int ready = ::poll(fds.data(), fds.size(), wait ? kWorkerSilenceMs : 0);
  if (ready < 0 && errno == EINTR) return;
  if (ready == 0 && wait) {
    for (Worker* worker : polled) {
      if (worker->sent.empty()) continue;
      ::kill(worker->pid, SIGKILL);
      Gone(*worker);
    }
    return;
  }
  for (size_t i = 0; i < fds.size(); ++i) {
    Worker& worker = *polled[i];
    if ((fds[i].revents & POLLOUT) != 0) {
      const ssize_t n = ::send(fds[i].fd, worker.out.data(), worker.out.size(), MSG_NOSIGNAL);
      if (n > 0) worker.out.erase(0, static_cast<size_t>(n));
    }
    if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    bool ended = false;
    for (;;) {
      char buffer[64 * 1024];
      const ssize_t n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
      if (n > 0) {
        worker.in.append(buffer, static_cast<size_t>(n));
        continue;
      }
      ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
      break;
    }
    while (std::optional<std::pair<char, std::string>> frame = TakeFrame(worker.in)) {
      Received(worker, frame->first, frame->second);
    }
    if (ended) Gone(worker);
  }
}

void RegistryPool::Received(Worker& worker, char type, std::string_view payload) {
  if (type == kLostFrame) {
    if (std::optional<Status> lost = DecodeStatus(payload)) link_->MarkDown(*lost);
    return;
  }
  std::optional<std::vector<KeyRead>> reads;
  if (type == kReadsFrame && !worker.sent.empty()) reads = DecodeKeyReads(payload);
  if (!reads || reads->size() != worker.sent.front().size()) {
    ::kill(worker.pid, SIGKILL);
    Gone(worker);
    return;
  }
  const std::vector<KeyId>& ids = worker.sent.front();
  for (size_t i = 0; i < ids.size(); ++i) {
    if (auto found = keys_.find(ids[i]); found != keys_.end()) found->second = std::move((*reads)[i]);
  }
  worker.sent.pop_front();
}

void RegistryPool::Gone(Worker& worker) {
  worker.socket.reset();
  worker.out.clear();
  for (const std::vector<KeyId>& batch : worker.sent) {
    for (const KeyId& id : batch) {
      if (auto found = keys_.find(id); found != keys_.end() && !found->second) {
        found->second = KeyRead{};
      }
    }
  }
  worker.sent.clear();
  if (std::any_of(workers_.begin(), workers_.end(),
                  [](const Worker& w) { return w.socket.valid(); })) {
    return;
  }
  for (const Batch& batch : queue_) {
    for (const KeyId& id : batch.ids) keys_[id] = KeyRead{};
  }
  queue_.clear();
}

size_t WalkPipes() {
  const char* text = secure_getenv("HOSTLORE_REGISTRY_PIPES");
  if (text == nullptr || *text == '\0') return kDefaultWalkPipes;
  char* end = nullptr;
  const unsigned long pipes = std::strtoul(text, &end, 10);
  if (*end != '\0' || pipes > kMaxWalkPipes || text[0] == '-') return kDefaultWalkPipes;
  return pipes;
}

bool WalkPipesChosen() {
  const char* text = secure_getenv("HOSTLORE_REGISTRY_PIPES");
  return text != nullptr && *text != '\0';
}

bool WorthExtraPipes(size_t keys, std::chrono::steady_clock::duration round_trip) {
  constexpr auto kPoolStart = std::chrono::seconds(1);
  return round_trip * 3 * static_cast<int64_t>(keys) >= kPoolStart;
}

std::function<std::unique_ptr<RegistryPool>()> RegistryPoolMaker(
    std::shared_ptr<SmbTargets> targets, std::string host) {
  const size_t pipes = WalkPipes();
  if (pipes == 0) return nullptr;
  return [targets = std::move(targets), host = std::move(host),
          pipes]() -> std::unique_ptr<RegistryPool> {
    Result<std::shared_ptr<SmbSession>> session = targets->SessionFor(host);
    if (!session.ok()) return nullptr;
    auto pool = std::make_unique<RegistryPool>(
        pipes, [&targets, &host] { return targets->ExtraSession(host); },
        session.value()->link());
    if (pool->pipes() == 0) return nullptr;
    return pool;
  };
}

}  // namespace hostlore
