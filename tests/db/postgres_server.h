// A throwaway PostgreSQL server for the tests: initdb and pg_ctl as the
// postgres user, on a free loopback port, its socket inside its data folder.
// Started on first use by a test process and stopped when the process ends.
#pragma once

#include <string>

namespace hostlore::test {

class PostgresServer {
 public:
  // The process's server, or nullptr when it cannot run here (SkipReason()
  // says why).
  static PostgresServer* Shared();
  static std::string SkipReason();

  // A new empty database on the server; returns the agent's server field
  // for it (postgresql://postgres@127.0.0.1:PORT/NAME).
  std::string CreateDatabase();

  int port() const { return port_; }
  ~PostgresServer();

 private:
  PostgresServer() = default;
  bool Start(std::string& reason);

  std::string data_dir_;
  int port_ = 0;
  int databases_ = 0;
  bool running_ = false;
};

}  // namespace hostlore::test
