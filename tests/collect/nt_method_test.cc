// The registry and share method for targets without WMI.
#include "collect/nt_method.h"

#include "support/collector_fixture.h"

namespace hostlore::test {
namespace {

std::string NtComputer(const std::string& version_values, const std::string& shares) {
  return R"({"names": ["PC042"], "address": "192.0.2.42",
    "registry": {
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {)" + version_values + R"(},
      "HKLM\\SYSTEM\\CurrentControlSet\\Services\\TCPIP\\Parameters": {"Domain": "corp.example"},
      "HKU\\.DEFAULT\\Control Panel\\International": {"iCountry": "49"},
      "HKU\\.DEFAULT": {},
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon":
        {"DefaultDomainName": "NTDOM", "DefaultUserName": "bob"}
    },
    "services": ["Alerter", "Server"],
    "shares": )" + shares + "}";
}

class NtMethodTest : public CollectorTest {};

TEST_F(NtMethodTest, FillsDrivesFromSharesAndTheSystemFromTheRegistry) {
  Lab(NtComputer(R"("CurrentVersion": "4.0", "CurrentBuildNumber": "1381",
                    "CSDVersion": "Service Pack 6", "SystemRoot": {"type": "REG_EXPAND_SZ", "data": "C:\\WINNT"})",
                 R"({"c$": {"total": 10000000000, "free": 2500000000},
                     "E$": {"total": 0, "free": 0}})"));
  NTMethod(*state_);
  const ScanState& s = *state_;
  EXPECT_EQ(s.Drive('C').Caption, "C:");
  EXPECT_EQ(s.Drive('C').Size, 9537);
  EXPECT_EQ(s.Drive('C').FreeSpace, 2384);
  EXPECT_EQ(s.Drive('D').Caption, "");  // no share
  EXPECT_EQ(s.Drive('E').Caption, "");  // a share of size 0
  EXPECT_EQ(s.OperatingSystem, "Windows NT");
  EXPECT_EQ(s.OSVersion, "4.0.1381");
  EXPECT_EQ(s.ServicePack, "Service Pack 6");
  EXPECT_EQ(s.WindowsDirectory, "C:\\WINNT ");  // expandable strings keep one blank
  EXPECT_EQ(s.Domain, "corp.example");
  EXPECT_EQ(s.CountryCode, "49");
  EXPECT_EQ(s.LoggedOnUser, "NTDOM\\bob");  // NT 4.0: ".DEFAULT" qualifies
  EXPECT_EQ(s.ServicesList, "Alerter^Server");
  EXPECT_TRUE(Progress().empty());
  EXPECT_TRUE(Log().empty());
}

TEST_F(NtMethodTest, MapsVersionsAndKeepsWhatItCannotName) {
  struct Case {
    std::string values;
    std::string os, version;
  };
  const Case cases[] = {
      {R"("CurrentVersion": "5.1", "CurrentBuildNumber": "2600")", "Windows XP", "5.1.2600"},
      {R"("CurrentVersion": "5.0", "CurrentBuildNumber": "2195")", "Windows 2000", "5.0.2195"},
      {R"("CurrentVersion": "5.2", "CurrentBuildNumber": "3790")", "5.2", "5.2.3790"},
      {R"("CurrentVersion": "5.1")", "Windows XP", "5.1."},
      {R"("CurrentVersion": "10.0.1")", "10.", "10.."},
      {R"("CurrentBuildNumber": "7")", "", ".7"},
      {R"("Other": "x")", "", ""},
  };
  for (const Case& c : cases) {
    Lab(NtComputer(c.values, "{}"));
    NTMethod(*state_);
    EXPECT_EQ(state_->OperatingSystem, c.os) << c.values;
    EXPECT_EQ(state_->OSVersion, c.version) << c.values;
  }
}

TEST_F(NtMethodTest, NamesWindows10AndLaterAsWmiDoes) {
  const auto values = [](const std::string& build, const std::string& product) {
    return R"("CurrentVersion": "6.3", "CurrentBuildNumber": ")" + build +
           R"(", "ProductName": ")" + product + R"(",
              "CurrentMajorVersionNumber": {"type": "REG_DWORD", "data": 10},
              "CurrentMinorVersionNumber": {"type": "REG_DWORD", "data": 0})";
  };
  struct Case {
    std::string values, os, version;
  };
  const Case cases[] = {
      {values("19045", "Windows 10 Pro"), "Microsoft Windows 10 Pro", "10.0.19045"},
      // Windows 11 still calls itself Windows 10 in the registry.
      {values("22631", "Windows 10 Enterprise"), "Microsoft Windows 11 Enterprise", "10.0.22631"},
      {values("20348", "Windows Server 2022 Standard"), "Microsoft Windows Server 2022 Standard",
       "10.0.20348"},
      {values("26100", "Windows Server 2025 Datacenter"),
       "Microsoft Windows Server 2025 Datacenter", "10.0.26100"},
      // Windows 8.1: no major version number, the older mapping.
      {R"("CurrentVersion": "6.3", "CurrentBuildNumber": "9600", "ProductName": "Windows 8.1 Pro")",
       "6.3", "6.3.9600"},
  };
  for (const Case& c : cases) {
    Lab(NtComputer(c.values, "{}"));
    NTMethod(*state_);
    EXPECT_EQ(state_->OperatingSystem, c.os) << c.values;
    EXPECT_EQ(state_->OSVersion, c.version) << c.values;
    EXPECT_TRUE(state_->RegistryPath);
  }
}

TEST_F(NtMethodTest, DisabledSharesFillNoDriveButTheRegistryFieldsStill) {
  Lab(NtComputer(R"("CurrentVersion": "5.0")", "false"));
  NTMethod(*state_);
  for (const DriveRecord& drive : state_->Drives) EXPECT_EQ(drive.Caption, "");
  EXPECT_EQ(state_->OperatingSystem, "Windows 2000");
}

}  // namespace
}  // namespace hostlore::test
