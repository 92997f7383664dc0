// hostlore-web's server: the pages over HTTP (cpp-httplib), read-only over
// the inventory and its fleet index, which a thread of its own keeps
// current.
#pragma once

#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "db/fleet_source.h"
#include "platform/status.h"

namespace httplib {
class Server;
}

namespace hostlore {

struct WebOptions {
  std::string server;                // the inventory, as the agent's server field
  std::string host = "127.0.0.1";    // where to listen
  int port = 8080;                   // 0: any free port
  int stale_days = 30;               // not reached for this long: stale
  int refresh_seconds = 60;          // between refreshes of the fleet index
  // What "now" is for staleness and new computers (tests fix it).
  std::function<std::time_t()> now = [] { return std::time(nullptr); };
};

class WebView {
 public:
  // `source` must have been refreshed once; the view owns it from here.
  WebView(WebOptions options, FleetSource source);
  ~WebView();
  WebView(const WebView&) = delete;
  WebView& operator=(const WebView&) = delete;

  // Binds the listening socket. Failure: the address cannot be used.
  Status Bind();
  int port() const { return port_; }
  // Serves until Stop(); refreshes the index in the background meanwhile.
  void Serve();
  // Ends Serve() and the refreshes; callable from any thread.
  void Stop();

 private:
  class InventoryPool;
  void Route();
  void RefreshLoop();

  WebOptions options_;
  FleetSource source_;
  std::unique_ptr<InventoryPool> pool_;
  std::unique_ptr<httplib::Server> http_;
  int port_ = 0;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread refresher_;
};

}  // namespace hostlore
