#include "db/postgres_server.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "db/connect.h"
#include "support/free_port.h"

namespace hostlore::test {
namespace {

constexpr char kBin[] = "/usr/lib/postgresql/15/bin";

// `command` as the postgres user when we are root, as ourselves otherwise.
std::string AsPostgres(const std::string& command) {
  return ::geteuid() == 0 ? "runuser -u postgres -- " + command : command;
}

bool RunAsPostgres(const std::string& command) {
  return std::system((AsPostgres(command) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string& Reason() {
  static std::string reason;
  return reason;
}

// A data folder made by initdb once and copied for every server: initdb
// costs seconds of CPU, and every test program that needs PostgreSQL starts
// a server of its own. Made under a lock by the first program that needs it,
// and renamed into place only once complete.
bool CopyTemplateTo(const std::string& data, std::string& reason) {
  const std::string base = "/tmp/hostlore-pg15-template-" + std::to_string(::geteuid());
  const std::string lock_path = base + ".lock";
  const int lock = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
    reason = "cannot lock " + lock_path;
    if (lock >= 0) ::close(lock);
    return false;
  }
  bool made = std::filesystem::exists(base + "/PG_VERSION");
  if (!made) {
    const std::string building = base + ".new";
    std::system(("rm -rf " + building + " && mkdir -p " + building).c_str());
    if (::geteuid() == 0) std::system(("chown postgres: " + building).c_str());
    made = RunAsPostgres(std::string(kBin) + "/initdb -D " + building + " -A trust -U postgres -E UTF8 --no-sync") &&
           ::rename(building.c_str(), base.c_str()) == 0;
  }
  ::close(lock);
  if (!made) {
    reason = "initdb failed (is there a postgres user?)";
    return false;
  }
  if (std::system(("cp -a " + base + " " + data).c_str()) != 0) {
    reason = "cannot copy the data folder " + base;
    return false;
  }
  return true;
}

}  // namespace

PostgresServer* PostgresServer::Shared() {
  static std::unique_ptr<PostgresServer> server = [] {
    std::unique_ptr<PostgresServer> started(new PostgresServer());
    if (!started->Start(false, Reason())) started.reset();
    return started;
  }();
  return server.get();
}

std::string PostgresServer::SkipReason() { return Reason(); }

std::unique_ptr<PostgresServer> PostgresServer::StartDurable(std::string& reason) {
  std::unique_ptr<PostgresServer> started(new PostgresServer());
  if (!started->Start(true, reason)) started.reset();
  return started;
}

bool PostgresServer::Start(bool durable, std::string& reason) {
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
  if (!CopyTemplateTo(data_dir_ + "/data", reason)) return false;
  // max_connections: the fleet benchmark runs 256 agents at once, each with
  // its own connection.
  settings_ = "-p " + std::to_string(port_) + " -c listen_addresses=127.0.0.1 -k " + data_dir_ +
              "/data -c max_connections=300" + (durable ? "" : " -c fsync=off");
  if (!Launch()) reason = "pg_ctl could not start the server on port " + std::to_string(port_);
  return running_;
}

bool PostgresServer::Launch() {
  running_ = RunAsPostgres(std::string(kBin) + "/pg_ctl -D " + data_dir_ + "/data -w -o \"" + settings_ + "\" start");
  return running_;
}

bool PostgresServer::AddPasswordUser(const std::string& user, const std::string& password,
                                     const std::string& database) {
  const std::string hba = data_dir_ + "/data/pg_hba.conf";
  if (!RunAsPostgres("sed -i '1i host all " + user + " 127.0.0.1/32 scram-sha-256' " + hba) ||
      !RunAsPostgres(std::string(kBin) + "/pg_ctl -D " + data_dir_ + "/data reload")) {
    return false;
  }
  Query("postgres", "CREATE ROLE " + user + " LOGIN PASSWORD '" + password + "'");
  Query(database, "GRANT ALL ON ALL TABLES IN SCHEMA public TO " + user);
  return Query("postgres", "SELECT count(*) FROM pg_roles WHERE rolname = '" + user + "'") == "1";
}

bool PostgresServer::StopImmediately() {
  if (!RunAsPostgres(std::string(kBin) + "/pg_ctl -D " + data_dir_ + "/data -m immediate stop")) return false;
  running_ = false;
  return true;
}

bool PostgresServer::Restart() { return running_ || Launch(); }

PostgresServer::~PostgresServer() {
  if (running_) StopImmediately();
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

std::string PostgresServer::Query(const std::string& database, const std::string& sql) const {
  const std::string command = AsPostgres(std::string(kBin) + "/psql -X -A -t -h " + data_dir_ + "/data -p " +
                                         std::to_string(port_) + " -U postgres -d " + database + " -c \"" +
                                         sql + "\" 2>/dev/null");
  std::string out;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace hostlore::test
