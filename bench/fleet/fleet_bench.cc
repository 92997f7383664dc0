// hostlore-fleet over a generated lab: the runner's echo sweep against an
// agent per target, on SQLite and PostgreSQL, with wall and CPU time.
//
//   fleet_bench [COMPUTERS [JOBS [ENGINES [MODES]]]]
//
// Defaults: 10000 computers, 256 jobs, ENGINES "sqlite,postgresql", MODES
// "sweep,per-target". HOSTLORE_FLEET_BENCH_FLEET names the hostlore-fleet
// to measure (default: the one built with the benchmark; its agent is the
// one next to it). With HOSTLORE_FLEET_BENCH_BASELINE naming another
// hostlore-fleet (an older build), that program runs too, with the options
// it has always had ("baseline").
//
// Every tenth computer answers (a copy of lab/pc042.json under its own name);
// the others do not ("echo": "timeout"). With an agent per target each silent
// target holds its job for the full 2 s echo wait, so no schedule beats
//     not answering x 2 s / jobs.
// The sweep sends every echo at once (--rate 30000: the lab has no network
// to spare) and starts agents only for the answering targets, so its goal is
//     1.2 x (2 s + the answering agents' time / jobs).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "db/postgres_server.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size()) text.replace(at, from.size(), to);
}

// Writes the lab and the target list; files are backdated so that the lab
// counts as settled and the agents may use its index.
void GenerateLab(const fs::path& lab, const fs::path& list, int computers) {
  fs::create_directories(lab);
  const std::string sample = ReadFile(std::string(HOSTLORE_SOURCE_DIR) + "/lab/pc042.json");
  std::ofstream targets(list);
  const auto past = fs::file_time_type::clock::now() - std::chrono::minutes(10);
  for (int i = 0; i < computers; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "FB%05d", i);
    const std::string address = "10." + std::to_string(i >> 16) + "." + std::to_string((i >> 8) & 255) + "." +
                                std::to_string(i & 255);
    std::string json;
    if (i % 10 == 0) {
      json = sample;
      ReplaceAll(json, "PC042", name);
      ReplaceAll(json, "pc042", name);
      ReplaceAll(json, "192.0.2.42", address);
    } else {
      json = std::string(R"({"names": [")") + name + R"("], "address": ")" + address + R"(", "echo": "timeout"})";
    }
    const fs::path file = lab / (std::string(name) + ".json");
    std::ofstream(file) << json;
    fs::last_write_time(file, past);
    targets << name << "\n";
  }
  fs::last_write_time(lab, past);
}

struct Mode {
  const char* name;
  std::string fleet;    // the program
  std::string options;  // besides --plain, --jobs and --report
};

struct Outcome {
  double wall_s = 0;
  double cpu_s = 0;  // the runner and all agents, user + system
  int exit_status = -1;
  std::map<std::string, int> outcomes;
  long peak_rss_kb = 0;
  int agents = 0;
  double agent_seconds = 0;  // the agents' run times, added up
};

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

Outcome RunFleet(const fs::path& work, const Mode& mode, const std::string& server, const fs::path& list,
                 int jobs) {
  const fs::path report = work / "report.json";
  const std::string command = mode.fleet + " --plain --jobs " + std::to_string(jobs) + " " + mode.options +
                              " --report " + report.string() + " '" + server + "' @" + list.string() + " > " +
                              (work / "fleet.out").string() + " 2>&1";
  rusage before{};
  ::getrusage(RUSAGE_CHILDREN, &before);
  const auto start = std::chrono::steady_clock::now();
  const int status = std::system(command.c_str());
  Outcome outcome;
  outcome.wall_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage after{};
  ::getrusage(RUSAGE_CHILDREN, &after);
  outcome.cpu_s = CpuSeconds(after) - CpuSeconds(before);
  outcome.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  fs::copy_file(report, fs::temp_directory_path() / "hostlore-fleet-bench-last.json",
                fs::copy_options::overwrite_existing);
  const nlohmann::json written = nlohmann::json::parse(ReadFile(report), nullptr, false);
  if (written.is_discarded()) return outcome;
  for (const nlohmann::json& row : written["targets"]) {
    ++outcome.outcomes[row["outcome"].get<std::string>()];
    const long peak = row["peak_rss_kb"].get<long>();
    outcome.peak_rss_kb = std::max(outcome.peak_rss_kb, peak);
    if (peak > 0) {  // an agent ran for it
      ++outcome.agents;
      outcome.agent_seconds += row["duration_s"].get<double>();
    }
  }
  return outcome;
}

void Report(const std::string& engine, const Mode& mode, const Outcome& outcome, int jobs) {
  std::printf("%s, %s: %.1f s wall", engine.c_str(), mode.name, outcome.wall_s);
  const int silent = outcome.outcomes.count("not answering") ? outcome.outcomes.at("not answering") : 0;
  if (std::string(mode.name) == "sweep") {
    const double bound = 2.0 + outcome.agent_seconds / jobs;
    std::printf(", bound %.1f s (2 s + %d agents' %.0f s / %d jobs), ratio %.2f (goal <= 1.20)\n", bound,
                outcome.agents, outcome.agent_seconds, jobs, outcome.wall_s / bound);
  } else {
    const double bound = silent * 2.0 / jobs;
    std::printf(", bound %.1f s (%d not answering x 2 s / %d jobs), ratio %.2f\n", bound, silent, jobs,
                bound > 0 ? outcome.wall_s / bound : 0.0);
  }
  std::printf("  exit status %d; outcomes:", outcome.exit_status);
  for (const auto& [name, count] : outcome.outcomes) std::printf(" %s %d;", name.c_str(), count);
  std::printf("\n  CPU (runner and agents) %.1f s; %d agents; agents' peak RSS %.1f MB (goal <= 16 MB)\n",
              outcome.cpu_s, outcome.agents, static_cast<double>(outcome.peak_rss_kb) / 1024);
  std::fflush(stdout);
}

// A fresh database of `engine` for one run; empty when it cannot be had.
std::string NewDatabase(const std::string& engine, const fs::path& work, int run) {
  if (engine == "sqlite") return "sqlite:" + (work / ("inventory" + std::to_string(run) + ".db")).string();
  hostlore::test::PostgresServer* server = hostlore::test::PostgresServer::Shared();
  if (server == nullptr) {
    std::printf("PostgreSQL skipped: %s\n", hostlore::test::PostgresServer::SkipReason().c_str());
    return "";
  }
  // A server database gets its tables from hostlore-db, as a user would.
  const std::string database = server->CreateDatabase();
  const std::string init = std::string(HOSTLORE_DB_TOOL_PATH) + " init '" + database + "' > /dev/null";
  if (database.empty() || std::system(init.c_str()) != 0) {
    std::printf("PostgreSQL skipped: the database could not be prepared\n");
    return "";
  }
  return database;
}

}  // namespace

int main(int argc, char** argv) {
  const int computers = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int jobs = argc > 2 ? std::atoi(argv[2]) : 256;
  const std::string engines = argc > 3 ? argv[3] : "sqlite,postgresql";
  const std::string modes = argc > 4 ? argv[4] : "sweep,per-target";
  if (computers <= 0 || jobs <= 0) {
    std::fprintf(stderr, "usage: fleet_bench [COMPUTERS [JOBS [sqlite,postgresql [sweep,per-target]]]]\n");
    return 2;
  }
  const char* chosen = std::getenv("HOSTLORE_FLEET_BENCH_FLEET");
  const std::string fleet = chosen != nullptr ? chosen : HOSTLORE_FLEET_PATH;
  std::vector<Mode> runs;
  if (modes.find("sweep") != std::string::npos) runs.push_back({"sweep", fleet, "--rate 30000"});
  if (modes.find("per-target") != std::string::npos) runs.push_back({"per-target", fleet, "--agent-per-target"});
  if (const char* baseline = std::getenv("HOSTLORE_FLEET_BENCH_BASELINE")) runs.push_back({"baseline", baseline, ""});

  std::string templ = (fs::temp_directory_path() / "hostlore-fleet-bench-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) return 1;
  const fs::path work = templ;
  // The lab index goes with the benchmark's own files, not the user's cache.
  ::setenv("XDG_CACHE_HOME", (work / "cache").c_str(), 1);
  ::setenv("HOSTLORE_LAB", (work / "lab").c_str(), 1);
  ::setenv("Temp", work.c_str(), 1);

  const auto generate_start = std::chrono::steady_clock::now();
  GenerateLab(work / "lab", work / "targets.txt", computers);
  std::printf("lab of %d computers generated in %.1f s\n", computers,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - generate_start).count());

  int run = 0;
  for (const std::string engine : {"sqlite", "postgresql"}) {
    if (engines.find(engine) == std::string::npos) continue;
    std::map<std::string, double> cpu;
    for (const Mode& mode : runs) {
      const std::string database = NewDatabase(engine, work, run++);
      if (database.empty()) break;
      const Outcome outcome = RunFleet(work, mode, database, work / "targets.txt", jobs);
      Report(engine == "sqlite" ? "SQLite" : "PostgreSQL", mode, outcome, jobs);
      cpu[mode.name] = outcome.cpu_s;
    }
    for (const char* other : {"per-target", "baseline"}) {
      if (cpu.count("sweep") && cpu.count(other) && cpu["sweep"] > 0) {
        std::printf("  CPU %s / sweep: %.1f (goal >= 5)\n", other, cpu[other] / cpu["sweep"]);
      }
    }
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  return 0;
}
