// The network backends as a module: loaded only off the lab, and a missing or
// broken module ends the run the way an unusable platform does.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/network_module_loader.h"
#include "support/test_support.h"

namespace hostlore::test {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The memory map of a lab agent once its scan has begun (its first progress
// line): the libraries it loaded to get there.
std::string LabAgentMaps(const std::filesystem::path& lab, const std::filesystem::path& temp) {
  int out[2];
  if (::pipe(out) != 0) return "";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    ::setenv("HOSTLORE_LAB", lab.c_str(), 1);
    ::setenv("Temp", temp.c_str(), 1);
    ::execl(HOSTLORE_AGENT_PATH, "hostlore", "1,SILENT,sqlite:agent.db,,3", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  char c = 0;
  while (::read(out[0], &c, 1) == 1 && c != '\n') {
  }
  std::string maps = ReadText("/proc/" + std::to_string(pid) + "/maps");
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::close(out[0]);
  return maps;
}

TEST(NetworkModuleTest, ALabAgentLoadsNoNetworkLibrary) {
  TempFolder lab;
  TempFolder temp;
  lab.Write("silent.json", R"({"names": ["SILENT"], "address": "192.0.2.9", "echo": "timeout"})");
  const std::string maps = LabAgentMaps(lab.path(), temp.path());
  ASSERT_NE(maps.find("libsqlite3"), std::string::npos) << "no map read:\n" << maps;
  for (const char* library : {"hostlore-network", "libsmbclient", "libcurl", "libgssapi", "libpugixml"}) {
    EXPECT_EQ(maps.find(library), std::string::npos) << library;
  }
}

TEST(NetworkModuleTest, AMissingOrUnusableModuleEndsTheRunThroughTheFailurePath) {
  TempFolder temp;
  Dl_info libc{};
  ASSERT_NE(::dladdr(reinterpret_cast<void*>(&::strlen), &libc), 0);
  const std::filesystem::path not_elf = temp.Write("hostlore-network.so", "not a shared object\n");
  const struct {
    std::string module;
    std::string reason;
  } cases[] = {
      {(temp.path() / "nowhere.so").string(), "cannot be loaded"},
      {not_elf.string(), "cannot be loaded"},
      {libc.dli_fname, "lacks its entry hostlore_network_platform"},
  };
  for (const auto& [module, reason] : cases) {
    std::filesystem::remove(temp.path() / "Kelvarn.log");
    const AgentProcessResult run =
        RunAgentProcess("1,PC042,sqlite:agent.db,,3", temp.path(), {{"HOSTLORE_NETWORK_MODULE", module}});
    EXPECT_EQ(run.exit_status, 1) << module;
    ASSERT_FALSE(run.progress.empty()) << module;
    EXPECT_EQ(run.progress.back(), "PC042,Complete,,3") << module;
    ASSERT_EQ(run.log.size(), 1u) << module;
    EXPECT_NE(run.log[0].find(module), std::string::npos) << run.log[0];
    EXPECT_NE(run.log[0].find(reason), std::string::npos) << run.log[0];
  }
}

// A copy of the agent given CAP_NET_RAW by file capabilities and run by an
// unprivileged user: neither HOSTLORE_NETWORK_MODULE nor a module next to
// the copy is loaded; only the installed folder is looked in. The same copy
// without the capability loads what the variable names.
TEST(NetworkModuleTest, ACapabilityRaisedAgentLoadsCodeOnlyFromItsInstallFolder) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root (setcap, and a switch to an unprivileged user)";
  TempFolder folder;
  const std::filesystem::path agent = folder.path() / "hostlore";
  const std::filesystem::path evil = folder.path() / "evil.so";
  const std::filesystem::path marker = folder.path() / "out" / "loaded";
  std::filesystem::copy_file(HOSTLORE_AGENT_PATH, agent);
  std::filesystem::copy_file(HOSTLORE_MARKER_MODULE_PATH, evil);
  std::filesystem::copy_file(HOSTLORE_MARKER_MODULE_PATH, folder.path() / "hostlore-network.so");
  std::filesystem::create_directory(folder.path() / "out");
  ::chmod(folder.path().c_str(), 0755);
  ::chmod((folder.path() / "out").c_str(), 0777);
  const std::string env = "HOSTLORE_NETWORK_MODULE=" + evil.string() + " HOSTLORE_TEST_MARKER=" + marker.string() +
                          " Temp=" + (folder.path() / "out").string();
  const auto run_as_nobody = [&] {
    const std::string command = "env -i " + env + " setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                agent.string() + " 1,PC042,sqlite::memory:,,3 >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };

  run_as_nobody();
  ASSERT_TRUE(std::filesystem::exists(marker)) << "the marker module does not work";
  std::filesystem::remove(marker);

  if (std::system(("setcap cap_net_raw+ep " + agent.string() + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "setcap is refused here (no file capabilities on this file system)";
  }
  const int status = run_as_nobody();
  EXPECT_FALSE(std::filesystem::exists(marker));
  if (!std::filesystem::exists(std::filesystem::path(HOSTLORE_INSTALLED_MODULE_DIR) / "hostlore-network.so")) {
    EXPECT_EQ(status, 1);  // no module where it is installed
  }
}

TEST(NetworkModuleTest, TheBuiltModuleMakesEverySeam) {
  ScopedEnv module("HOSTLORE_NETWORK_MODULE", HOSTLORE_NETWORK_MODULE_PATH);
  Result<Platform> platform = LoadNetworkPlatform();
  ASSERT_TRUE(platform.ok()) << platform.status().description();
  EXPECT_NE(platform->clock, nullptr);
  EXPECT_NE(platform->echo, nullptr);
  EXPECT_NE(platform->registry, nullptr);
  EXPECT_NE(platform->services, nullptr);
  EXPECT_NE(platform->shares, nullptr);
  EXPECT_NE(platform->wmi, nullptr);
}

}  // namespace
}  // namespace hostlore::test
