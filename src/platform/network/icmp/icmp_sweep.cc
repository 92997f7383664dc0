#include "platform/network/icmp/icmp_sweep.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <unordered_map>
#include <vector>

#include "platform/network/icmp/icmp_socket.h"
#include "platform/network/icmp/ipv4_resolver.h"

namespace hostlore {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Room for the replies that arrive while the caller is busy elsewhere
// (starting an agent, say): the kernel's default holds a few hundred.
constexpr int kReceiveBufferBytes = 8 << 20;
// Room for requests that wait for their way out: each echo to a silent
// address on the local link waits some 3 s for a neighbour (ARP) answer,
// and the kernel's default send buffer holds a few hundred.
constexpr int kSendBufferBytes = 4 << 20;
// Reads per Collect, so that a flood cannot keep the caller from its other work.
constexpr int kMaxReadsPerCollect = 4096;

class IcmpSweep final : public EchoSweep {
 public:
  IcmpSweep(IcmpSocket socket, const EchoRequest& request)
      : socket_(std::move(socket)), request_(request) {
    const int fd = socket_.fd.get();
    // The forced sizes need CAP_NET_ADMIN; otherwise net.core.rmem_max and
    // wmem_max cap them.
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes, sizeof kReceiveBufferBytes) != 0) {
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes, sizeof kReceiveBufferBytes);
    }
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &kSendBufferBytes, sizeof kSendBufferBytes) != 0) {
      ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBufferBytes, sizeof kSendBufferBytes);
    }
  }

  std::optional<Ipv4Address> Resolve(const std::string& name) override { return ResolveIpv4(name); }

  bool Send(const Ipv4Address& destination, uint64_t tag) override {
    std::optional<uint16_t> sequence = FreeSequence();
    if (destination == Ipv4Address{} || !sequence) {
      due_.push_back({tag, EchoReply{}});
      return true;
    }
    const EchoMatch match{destination, socket_.identifier, *sequence};
    const int64_t sent_at = RealTimeNanoseconds();
    int error = SendEchoRequest(socket_, match, request_, false);
    // A send also fails with an error that the socket holds about an earlier
    // echo (host unreachable, say), and takes it; the error queue still
    // tells Collect. Only a second failure is this echo's own.
    if (error != 0 && !Full(error)) error = SendEchoRequest(socket_, match, request_, false);
    if (Full(error)) {
      --next_sequence_;
      return false;
    }
    // A send that cannot go out (no route, say) is no reply, as for the agent.
    if (error != 0) {
      due_.push_back({tag, EchoReply{}});
      return true;
    }
    const uint64_t serial = ++serial_;
    pending_[*sequence] = Pending{tag, match, sent_at, serial};
    timeouts_.push_back({SteadyClock::now() + request_.timeout, *sequence, serial});
    return true;
  }

  std::vector<SweepAnswer> Collect() override {
    std::vector<SweepAnswer> answers = std::move(due_);
    due_.clear();
    if (socket_.kind == IcmpSocketKind::kDatagram) {
      Drain(true, answers);
      ClearPendingError(socket_);
    }
    Drain(false, answers);
    // Only after every reply that was already there has been read.
    const SteadyClock::time_point now = SteadyClock::now();
    while (!timeouts_.empty() && timeouts_.front().at <= now) {
      const Timeout timeout = timeouts_.front();
      timeouts_.pop_front();
      const auto found = pending_.find(timeout.sequence);
      if (found == pending_.end() || found->second.serial != timeout.serial) continue;
      answers.push_back({found->second.tag, EchoReply{}});
      pending_.erase(found);
    }
    return answers;
  }

  int WaitFd() const override { return socket_.fd.get(); }

  std::optional<SteadyClock::time_point> NextTimeout() const override {
    if (!due_.empty()) return SteadyClock::now();
    if (timeouts_.empty()) return std::nullopt;
    return timeouts_.front().at;
  }

  size_t InFlight() const override { return pending_.size(); }

 private:
  struct Pending {
    uint64_t tag = 0;
    EchoMatch match;
    int64_t sent_at = 0;  // CLOCK_REALTIME, as the kernel stamps what it receives
    uint64_t serial = 0;
  };
  struct Timeout {
    SteadyClock::time_point at;
    uint16_t sequence = 0;
    uint64_t serial = 0;  // tells this echo from a later one with the same sequence
  };

  // The kernel holds as many requests as it takes for now.
  static bool Full(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS; }

  std::optional<uint16_t> FreeSequence() {
    if (pending_.size() >= kMaxIcmpEchoesInFlight) return std::nullopt;
    while (pending_.count(++next_sequence_) != 0) {
    }
    return next_sequence_;
  }

  void Drain(bool error_queue, std::vector<SweepAnswer>& answers) {
    for (int i = 0; i < kMaxReadsPerCollect; ++i) {
      const std::optional<IcmpArrival> arrival = ReceiveIcmp(socket_, buffer_, error_queue);
      if (!arrival) return;
      const std::optional<uint16_t> sequence = AnsweredSequence(socket_, *arrival);
      const auto found = sequence ? pending_.find(*sequence) : pending_.end();
      if (found == pending_.end()) continue;
      const std::optional<EchoReply> reply = ReplyTo(socket_, *arrival, found->second.match);
      if (!reply) continue;
      // Too late: its timeout answers it (or already has).
      if (!ArrivedInTime(*arrival, found->second.sent_at, request_.timeout)) continue;
      answers.push_back({found->second.tag, *reply});
      pending_.erase(found);
    }
  }

  IcmpSocket socket_;
  EchoRequest request_;
  std::vector<uint8_t> buffer_;
  std::unordered_map<uint16_t, Pending> pending_;  // by sequence
  std::deque<Timeout> timeouts_;  // in the order sent, which is the order they run out
  std::vector<SweepAnswer> due_;  // answered without a packet
  uint16_t next_sequence_ = 0;
  uint64_t serial_ = 0;
};

}  // namespace

Result<std::unique_ptr<EchoSweep>> OpenIcmpSweep(const EchoRequest& request, IcmpSocketKind kind) {
  Result<IcmpSocket> socket = OpenIcmpSocket(kind);
  if (!socket.ok()) return socket.status();
  return std::unique_ptr<EchoSweep>(std::make_unique<IcmpSweep>(std::move(socket).value(), request));
}

Result<std::unique_ptr<EchoSweep>> OpenIcmpSweep(const EchoRequest& request) {
  Result<std::unique_ptr<EchoSweep>> sweep = OpenIcmpSweep(request, IcmpSocketKind::kDatagram);
  // The raw socket is the last resort: its failure says what is missing.
  return sweep.ok() ? std::move(sweep) : OpenIcmpSweep(request, IcmpSocketKind::kRaw);
}

}  // namespace hostlore
