#include "platform/network/tcp_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace hostlore::testing {
namespace {

sockaddr_in SocketAddress(const Ipv4Address& address, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  std::memcpy(&a.sin_addr, address.data(), 4);
  return a;
}

}  // namespace

int ListenOn(const Ipv4Address& address, uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const sockaddr_in a = SocketAddress(address, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TcpRelay::TcpRelay(int listen_fd, const Ipv4Address& target, uint16_t port,
                   std::chrono::microseconds delay_each_way)
    : listen_fd_(listen_fd), target_(target), port_(port), delay_(delay_each_way) {
  acceptor_ = std::thread([this] { Accept(); });
}

TcpRelay::~TcpRelay() {
  stop_ = true;
  acceptor_.join();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : sockets_) ::shutdown(fd, SHUT_RDWR);
  }
  for (std::thread& pump : pumps_) pump.join();
  for (int fd : sockets_) ::close(fd);
  ::close(listen_fd_);
}

void TcpRelay::Accept() {
  while (!stop_) {
    pollfd p{listen_fd_, POLLIN, 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in a = SocketAddress(target_, port_);
    if (server < 0 || ::connect(server, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
      ::close(client);
      if (server >= 0) ::close(server);
      continue;
    }
    const int on = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::lock_guard<std::mutex> lock(mutex_);
    sockets_.push_back(client);
    sockets_.push_back(server);
    auto server_spoke_last = std::make_shared<std::atomic<bool>>(true);
    pumps_.emplace_back([=, this] { Pump(client, server, true, server_spoke_last); });
    pumps_.emplace_back([=, this] { Pump(server, client, false, server_spoke_last); });
  }
}

void TcpRelay::DropClientBytesFrom(std::string pattern, std::function<void()> on_match) {
  std::lock_guard<std::mutex> lock(mutex_);
  drop_pattern_ = std::move(pattern);
  on_match_ = std::move(on_match);
}

bool TcpRelay::MatchesDropPattern(std::string& tail, std::string_view chunk) {
  std::function<void()> on_match;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (drop_pattern_.empty()) return false;
    tail.append(chunk);
    if (tail.find(drop_pattern_) == std::string::npos) {
      tail.erase(0, tail.size() - std::min(tail.size(), drop_pattern_.size() - 1));
      return false;
    }
    on_match = std::exchange(on_match_, nullptr);
  }
  if (on_match) on_match();
  return true;
}

void TcpRelay::Pump(int from, int to, bool from_client,
                    std::shared_ptr<std::atomic<bool>> server_spoke_last) {
  char buffer[65536];
  std::string tail;
  bool dropping = false;
  for (;;) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n <= 0) break;
    if (from_client && !dropping) {
      dropping = MatchesDropPattern(tail, std::string_view(buffer, static_cast<size_t>(n)));
    }
    if (dropping) continue;
    ++chunks_;
    if (server_spoke_last->exchange(!from_client) && from_client) ++client_turns_;
    if (delay_.count() > 0) std::this_thread::sleep_for(delay_);
    size_t done = 0;
    while (done < static_cast<size_t>(n)) {
      const ssize_t w = ::write(to, buffer + done, static_cast<size_t>(n) - done);
      if (w <= 0) break;
      done += static_cast<size_t>(w);
    }
  }
  ::shutdown(to, SHUT_WR);
}

}  // namespace hostlore::testing
