#include "support/agent_fixture.h"

#include "run/agent.h"

namespace hostlore::test {

std::string Pc042Json(const std::string& extra) {
  return R"({
    "names": ["PC042", "pc042.corp.example"],
    "address": "192.0.2.42",
    "echo": "reply",
    "registry": {
      "HKLM\\System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName":
        {"ComputerName": "PC042"},
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentVersion": "5.1"},
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\A":
        {"DisplayName": "Alpha", "UninstallString": "x"},
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\B":
        {"DisplayName": "Beta", "UninstallString": "x"},
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\C":
        {"DisplayName": "Gamma", "UninstallString": "x"},
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\D":
        {"DisplayName": "Delta", "UninstallString": "x"}
    },
    "wmi": {
      "Win32_ComputerSystem": [{"Name": "PC042", "UserName": "OFFICE\\jsmith",
                                "TotalPhysicalMemory": "536330240"}]
    },
    "services": ["Alerter", "Workstation"])" +
         (extra.empty() ? "" : ",\n" + extra) + "\n}";
}

int AgentFixture::Run(const std::string& fields, const std::function<void(Platform&)>& adjust) {
  ScopedEnv temp("Temp", temp_.path().string());
  state_->CommandLine = std::to_string(progress_.write_fd()) + "," + fields;
  return RunAgent(*state_, [&]() -> Result<Platform> {
    Result<Platform> lab = MakeTestLab(lab_.path());
    if (lab.ok() && adjust) adjust(lab.value());
    return lab;
  });
}

std::vector<std::string> AgentFixture::LogWithoutTime() const {
  std::vector<std::string> lines;
  for (const std::string& line : Log()) {
    // "YYYY/MM/DD HH:MM:SS," is 20 characters.
    lines.push_back(line.size() >= 20 ? line.substr(20) : line);
  }
  return lines;
}

}  // namespace hostlore::test
