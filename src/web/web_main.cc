// hostlore-web SERVER [--listen ADDRESS:PORT] [--days N] [--refresh SECONDS] [--index FILE]
//
// A read-only web view of the inventory in SERVER (written as in the agent's
// command line): the fleet, its computers, one computer, the software and
// the changes, each list also as CSV and JSON. Listens on 127.0.0.1:8080
// unless told otherwise.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "db/fleet_index_refresh.h"
#include "db/fleet_source.h"
#include "util/escape.h"
#include "util/password_mask.h"
#include "util/standard_options.h"
#include "web/web_view.h"

namespace {

using namespace hostlore;

int Usage(const std::string& reason) {
  if (!reason.empty()) std::cerr << "hostlore-web: " << Escape(reason, EscapeFor::kTerminal) << "\n";
  std::cerr << "usage: hostlore-web SERVER [--listen ADDRESS:PORT] [--days N] [--refresh SECONDS] [--index FILE]\n";
  return 2;
}

std::string Help() {
  return "Usage: hostlore-web SERVER [options]\n"
         "Serves a read-only web view of the inventory in SERVER: the fleet, its\n"
         "computers, one computer, the software and the changes, each list also as CSV\n"
         "and JSON.\n"
         "\n"
         "SERVER: sqlite:PATH, postgresql://HOST[:PORT]/DB, odbc:CONNECTION-STRING, or a\n"
         "SQL Server name (database BrindleAsset, Kerberos login).\n"
         "\n"
         "Options:\n"
         "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8080; port 0: any)\n"
         "  --days N               a computer not reached for N days is stale (default 30)\n"
         "  --refresh SECONDS      how often the fleet index is brought up to date\n"
         "                         (default 60)\n"
         "  --index FILE           where the fleet index is kept (default: a private\n"
         "                         temporary folder)\n"
         "  -h, --help             show this text\n"
         "      --version          show the version\n";
}

std::optional<int> Number(const std::string& text, int min, int max) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < min || value > max) return std::nullopt;
  return value;
}

// "127.0.0.1:8080", "[::1]:8080", "0.0.0.0:80".
bool ParseListen(const std::string& text, WebOptions& options) {
  const size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return false;
  std::string host = text.substr(0, colon);
  if (host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::optional<int> port = Number(text.substr(colon + 1), 0, 65535);
  if (!port || host.empty()) return false;
  options.host = host;
  options.port = *port;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::optional<int> answered =
          AnswerHelpOrVersion(std::vector<std::string>(argv + 1, argv + argc), "hostlore-web", Help())) {
    return *answered;
  }
  if (argc < 2) return Usage("");
  WebOptions options;
  options.server = argv[1];
  std::string index_path;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return Usage(option + " needs a value");
    const std::string value = argv[++i];
    if (option == "--listen") {
      if (!ParseListen(value, options)) return Usage("--listen takes ADDRESS:PORT, not " + value);
    } else if (option == "--days") {
      const std::optional<int> days = Number(value, 0, 36500);
      if (!days) return Usage("--days takes a number of days from 0 to 36500, not " + value);
      options.stale_days = *days;
    } else if (option == "--refresh") {
      const std::optional<int> seconds = Number(value, 1, 86400);
      if (!seconds) return Usage("--refresh takes seconds from 1 to 86400, not " + value);
      options.refresh_seconds = *seconds;
    } else if (option == "--index") {
      index_path = value;
    } else {
      return Usage("unknown option " + option);
    }
  }

  // A few malloc arenas for all the request threads: memory one thread
  // frees serves the next, so that the server stays small.
  mallopt(M_ARENA_MAX, 2);

  // The signals are taken by a thread of their own; every other thread,
  // the server's included, is started with them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, number);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // Without a cache folder of its own, the index lives in a private
  // temporary folder for as long as the server runs.
  std::string temporary = (std::filesystem::temp_directory_path() / "hostlore-web-XXXXXX").string();
  if (::mkdtemp(temporary.data()) == nullptr) temporary.clear();
  const std::string fallback = temporary.empty() ? ":memory:" : temporary + "/index.sqlite";
  const auto remove_temporary = [&] {
    std::error_code ignored;
    if (!temporary.empty()) std::filesystem::remove_all(temporary, ignored);
  };

  Result<FleetSource> source = OpenFleetSource(options.server, index_path, fallback, std::cerr);
  if (!source.ok()) {
    std::cerr << "hostlore-web: cannot read " << Escape(MaskPasswords(options.server), EscapeFor::kTerminal) << ": "
              << Escape(MaskPasswords(source.status().description()), EscapeFor::kTerminal) << "\n";
    remove_temporary();
    return 1;
  }
  if (source->index_path != fallback) remove_temporary(), temporary.clear();
  const auto started = std::chrono::steady_clock::now();
  size_t shown = 0;
  Result<RefreshReport> refreshed = RefreshFleetIndex(
      *source->index, *source->reader, std::time(nullptr), [&](size_t done, size_t total) {
        if (done * 10 / total > shown || done == total) {
          shown = done * 10 / total;
          std::cerr << "hostlore-web: indexing the fleet: " << done << " of " << total << " computers read\n";
        }
      });
  if (!refreshed.ok()) {
    std::cerr << "hostlore-web: cannot index the fleet: "
              << Escape(refreshed.status().description(), EscapeFor::kTerminal) << "\n";
    remove_temporary();
    return 1;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::cerr << "hostlore-web: " << refreshed->computers << " computers indexed in " << source->index_path << " ("
            << refreshed->read << " read, " << seconds << " s)\n";

  WebView view(options, std::move(source).value());
  if (Status bound = view.Bind(); !bound.ok()) {
    std::cerr << "hostlore-web: " << bound.description() << "\n";
    remove_temporary();
    return 1;
  }
  const std::string shown_host = options.host.find(':') != std::string::npos ? "[" + options.host + "]" : options.host;
  std::cout << "hostlore-web: serving http://" << shown_host << ":" << view.port() << "/" << std::endl;
  std::thread waiter([&] {
    int number = 0;
    sigwait(&signals, &number);
    view.Stop();
  });
  view.Serve();
  pthread_kill(waiter.native_handle(), SIGTERM);  // ends the waiter when Serve ended on its own
  waiter.join();
  remove_temporary();
  return 0;
}
