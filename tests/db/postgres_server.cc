#include "db/postgres_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "db/connect.h"
#include "support/free_port.h"

namespace hostlore::test {
namespace {

constexpr char kBin[] = "/usr/lib/postgresql/15/bin";

// Runs `command` as the postgres user when we are root, as ourselves otherwise.
bool RunAsPostgres(const std::string& command) {
  const std::string line = ::geteuid() == 0 ? "runuser -u postgres -- " + command : command;
  return std::system((line + " >/dev/null 2>&1").c_str()) == 0;
}

std::string& Reason() {
  static std::string reason;
  return reason;
}

}  // namespace

PostgresServer* PostgresServer::Shared() {
  static std::unique_ptr<PostgresServer> server = [] {
    std::unique_ptr<PostgresServer> started(new PostgresServer());
    if (!started->Start(Reason())) started.reset();
    return started;
  }();
  return server.get();
}

std::string PostgresServer::SkipReason() { return Reason(); }

bool PostgresServer::Start(std::string& reason) {
  if (!std::filesystem::exists(std::string(kBin) + "/initdb")) {
    reason = "PostgreSQL 15 is not installed (no " + std::string(kBin) + "/initdb); run scripts/setup";
    return false;
  }
  std::string folder = "/tmp/hostlore-pg-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) {
    reason = "cannot make a data folder under /tmp";
    return false;
  }
  data_dir_ = folder;
  if (::geteuid() == 0) std::system(("chown postgres: " + data_dir_).c_str());
  port_ = FreeLoopbackPort();
  const std::string bin(kBin);
  if (!RunAsPostgres(bin + "/initdb -D " + data_dir_ + "/data -A trust -U postgres -E UTF8 --no-sync")) {
    reason = "initdb failed (is there a postgres user?)";
    return false;
  }
  // max_connections: the fleet benchmark runs 256 agents at once, each with
  // its own connection.
  running_ = RunAsPostgres(bin + "/pg_ctl -D " + data_dir_ + "/data -w -o \"-p " +
                           std::to_string(port_) + " -c listen_addresses=127.0.0.1 -k " + data_dir_ +
                           "/data -c fsync=off -c max_connections=300\" start");
  if (!running_) reason = "pg_ctl could not start the server on port " + std::to_string(port_);
  return running_;
}

PostgresServer::~PostgresServer() {
  if (running_) RunAsPostgres(std::string(kBin) + "/pg_ctl -D " + data_dir_ + "/data -m immediate stop");
  if (!data_dir_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(data_dir_, ignored);
  }
}

std::string PostgresServer::CreateDatabase() {
  const std::string name = "hostlore_" + std::to_string(::getpid()) + "_" + std::to_string(++databases_);
  const std::string server = "postgresql://postgres@127.0.0.1:" + std::to_string(port_);
  Result<std::shared_ptr<EngineConnection>> admin = ConnectEngine(server + "/postgres");
  if (!admin.ok() || !admin.value()->RunScript("CREATE DATABASE " + name).ok()) return {};
  return server + "/" + name;
}

}  // namespace hostlore::test
