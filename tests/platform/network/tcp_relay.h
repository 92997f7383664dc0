// A TCP relay for tests: accepts on a listening socket, opens a connection
// of its own for each client, and copies bytes both ways, each chunk
// delayed by a fixed time. Sockets keep the network namespace they were
// made in, so a relay can join two namespaces (the listening socket made in
// one, the relay's threads connecting from another) or add latency in front
// of a server, which this kernel's missing netem cannot.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/echo/echo.h"

namespace hostlore::testing {

// A socket listening on `address`:`port`, in the calling thread's
// namespace; -1 on failure.
int ListenOn(const Ipv4Address& address, uint16_t port);

class TcpRelay {
 public:
  // Takes `listen_fd`; each accepted client is joined to a connection to
  // `target`:`port`, made from the namespace of the thread that constructs
  // the relay.
  TcpRelay(int listen_fd, const Ipv4Address& target, uint16_t port,
           std::chrono::microseconds delay_each_way);
  TcpRelay(const TcpRelay&) = delete;
  TcpRelay& operator=(const TcpRelay&) = delete;
  // Closes every socket and joins every thread.
  ~TcpRelay();

  // Chunks relayed so far in either direction (a request or an answer each,
  // for a request-response protocol): the round trips are half of it.
  uint64_t chunks() const { return chunks_; }

  // Times a client spoke after its server had (or first): the round trips of
  // a request-response protocol, however its messages were cut into chunks.
  uint64_t client_turns() const { return client_turns_; }

  // From the first chunk a client sends that contains `pattern` on (found
  // across chunk boundaries too), that client's bytes are dropped instead of
  // relayed, and `on_match` runs once, on a relay thread, before the relay
  // reads on: a test cuts a conversation at a request of its choice.
  // Answers still flow from the target to the client.
  void DropClientBytesFrom(std::string pattern, std::function<void()> on_match);

 private:
  void Accept();
  // `server_spoke_last` is shared by the two pumps of one connection.
  void Pump(int from, int to, bool from_client, std::shared_ptr<std::atomic<bool>> server_spoke_last);
  // Whether `chunk`, after the carried `tail` of the client's previous
  // chunks, holds the drop pattern; keeps in `tail` what a pattern split
  // across chunks needs. Runs the match callback on the first match.
  bool MatchesDropPattern(std::string& tail, std::string_view chunk);

  int listen_fd_;
  Ipv4Address target_;
  uint16_t port_;
  std::chrono::microseconds delay_;
  std::atomic<bool> stop_{false};
  std::atomic<uint64_t> chunks_{0};
  std::atomic<uint64_t> client_turns_{0};
  std::mutex mutex_;
  std::string drop_pattern_;
  std::function<void()> on_match_;
  std::vector<int> sockets_;
  std::vector<std::thread> pumps_;
  std::thread acceptor_;
};

}  // namespace hostlore::testing
