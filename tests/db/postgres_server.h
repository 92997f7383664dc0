// A throwaway PostgreSQL server for the tests: pg_ctl as the postgres user,
// on a free loopback port, its socket inside its data folder; the folder is
// a copy of one that initdb made once (/tmp/hostlore-pg15-template-UID).
// Started on first use by a test process and stopped when the process ends.
#pragma once

#include <memory>
#include <string>

namespace hostlore::test {

class PostgresServer {
 public:
  // The process's server, or nullptr when it cannot run here (SkipReason()
  // says why). It runs without fsync: tests want speed, not durability.
  static PostgresServer* Shared();
  static std::string SkipReason();

  // A server of its own that syncs its write-ahead log at every commit, as
  // a production server does (for benchmarks); nullptr with `reason` set
  // when it cannot run here.
  static std::unique_ptr<PostgresServer> StartDurable(std::string& reason);

  // A new empty database on the server; returns the agent's server field
  // for it (postgresql://postgres@127.0.0.1:PORT/NAME).
  std::string CreateDatabase();

  // A login role `user` that must give `password` over TCP (the server
  // trusts every other login), with every right on the tables of
  // `database`. True on success.
  bool AddPasswordUser(const std::string& user, const std::string& password, const std::string& database);

  // Stops the server as a crash would (pg_ctl stop -m immediate: no
  // checkpoint, every connection cut), and starts it again on the same port
  // and data. True on success.
  bool StopImmediately();
  bool Restart();

  // Runs `sql` with psql on database `database`; its output, unaligned,
  // without headers.
  std::string Query(const std::string& database, const std::string& sql) const;

  int port() const { return port_; }
  ~PostgresServer();

 private:
  PostgresServer() = default;
  bool Start(bool durable, std::string& reason);
  bool Launch();

  std::string data_dir_;
  std::string settings_;
  int port_ = 0;
  int databases_ = 0;
  bool running_ = false;
};

}  // namespace hostlore::test
