// The WMI inventory over lab computers: fields, conversions, the user, the
// checkpoints and the hand-over to the registry method.
#include "collect/wmi_inventory.h"

#include "support/collector_fixture.h"

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;

std::string Computer(const std::string& wmi, const std::string& registry_extra = "") {
  return R"({"names": ["PC042"], "address": "192.0.2.42",
    "registry": {
      "HKLM\\System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName": {"ComputerName": "PC042"},
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentVersion": "5.1"},
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon":
        {"DefaultDomainName": "OFFICE", "DefaultUserName": "jsmith"},
      "HKU\\S-1-5-21-1_Classes": {})" + registry_extra + R"(
    },
    "services": ["Alerter", "", "Workstation"],
    "wmi": )" + wmi + "}";
}

const char* kFullWmi = R"({
  "Win32_ComputerSystem": [{"Name": "pc042-own", "UserName": "CORP\\alice", "Manufacturer": "Dell Inc.",
                            "Model": "OptiPlex", "Domain": "corp", "TotalPhysicalMemory": "536330240"}],
  "Win32_OperatingSystem": [{"BootDevice": "\\Device\\HarddiskVolume1", "SerialNumber": "55274",
    "Caption": "Microsoft Windows XP Professional", "CountryCode": "49", "CSDVersion": "Service Pack 2",
    "Description": "desk", "FreePhysicalMemory": "201328", "FreeSpaceInPagingFiles": "300",
    "FreeVirtualMemory": "2005472", "Version": "5.1.2600", "WindowsDirectory": "C:\\WINDOWS"}],
  "Win32_Processor": [{"Name": "   Intel  CPU", "currentclockspeed": 2793},
                      {"Name": " ", "currentclockspeed": 2793.5},
                      {"Name": "c3"}, {"Name": "c4", "currentclockspeed": 4},
                      {"Name": "c5", "currentclockspeed": 5}, {"Name": "c6", "currentclockspeed": 6}],
  "Win32_BIOS": [{"Manufacturer": "Phoenix", "SMBIOSBIOSVersion": "A05", "SerialNumber": "7XK"},
                 {"Manufacturer": "Later", "SMBIOSBIOSVersion": null}],
  "Win32_LogicalDisk": [
    {"Caption": "C:", "Size": "40015953920", "freespace": "1572864", "volumename": "SYSTEM",
     "FileSystem": "NTFS", "volumeserialnumber": "A4C2-19F0"},
    {"Caption": "D:", "Size": null, "freespace": null, "volumename": null, "FileSystem": null,
     "volumeserialnumber": null},
    {"Caption": "E:", "Size": "1000", "freespace": "307200", "FileSystem": "FAT"},
    {"Caption": "K:", "Size": "99999999", "FileSystem": "NTFS"},
    {"Caption": "c:", "FileSystem": "lower case is not C"}]
})";

class WmiInventoryTest : public CollectorTest {};

TEST_F(WmiInventoryTest, FillsEveryFieldFromTheFiveQueries) {
  Lab(Computer(kFullWmi));
  GetWMI(*state_);
  const ScanState& s = *state_;
  EXPECT_EQ(s.TargetName, "pc042-own");
  EXPECT_EQ(s.LoggedOnUser, "CORP\\alice");
  EXPECT_EQ(s.Manufacturer, "Dell Inc.");
  EXPECT_EQ(s.TotalPhysicalMemory, 511);
  EXPECT_EQ(s.OperatingSystem, "Microsoft Windows XP Professional");
  EXPECT_EQ(s.FreePhysicalMemory, 197);
  EXPECT_EQ(s.FreeSpaceInPagingFiles, 0);  // 300 KB rounds to 0: left alone
  EXPECT_EQ(s.FreeVirtualMemory, 1958);
  EXPECT_EQ(s.OSVersion, "5.1.2600");
  EXPECT_EQ(s.Processors[0].Name, " IntelCPU");
  EXPECT_EQ(s.Processors[0].Speed, 2793);
  EXPECT_EQ(s.Processors[1].Name, "");
  EXPECT_EQ(s.Processors[1].Speed, 2793.5);
  EXPECT_EQ(s.Processors[2].Speed, 0);  // missing speed keeps the field
  EXPECT_EQ(s.Processors[3].Name, "c4");
  // The last BIOS instance wins where it has a value.
  EXPECT_EQ(s.BIOS, "Later");
  EXPECT_EQ(s.BIOSVersion, "A05");
  EXPECT_EQ(s.ServicesList, "Alerter^Workstation");

  const DriveRecord& c = s.Drive('C');
  EXPECT_EQ(c.Caption, "C:");
  EXPECT_EQ(c.Size, 38162);
  EXPECT_EQ(c.FreeSpace, 2);  // 1.5 MB
  EXPECT_EQ(c.VolumeSerial, "A4C2-19F0");
  // A CD drive without medium keeps its caption and nothing else.
  EXPECT_EQ(s.Drive('D').Caption, "D:");
  EXPECT_EQ(s.Drive('D').Size, 0);
  EXPECT_EQ(s.Drive('D').FileSystem, "");
  EXPECT_EQ(s.Drive('E').Size, 0);
  EXPECT_EQ(s.Drive('E').FileSystem, "FAT");
  for (char letter : {'A', 'B', 'F', 'G', 'H', 'I', 'J'}) EXPECT_EQ(s.Drive(letter).Caption, "");

  const std::string at = ",192.0.2.42,0";
  EXPECT_EQ(Progress(), (Lines{"PC042,6" + at, "PC042,10" + at, "pc042-own,20" + at,
                               "pc042-own,27" + at, "pc042-own,29" + at, "pc042-own,33" + at}));
  EXPECT_TRUE(Log().empty());
}

TEST_F(WmiInventoryTest, WithoutAUserNameTheRegistryNamesTheUser) {
  Lab(Computer(R"({"Win32_ComputerSystem": [{"Name": "PC042", "UserName": null,
                                             "TotalPhysicalMemory": "536330240"}]})"));
  GetWMI(*state_);
  EXPECT_EQ(state_->LoggedOnUser, "OFFICE\\jsmith");
}

TEST_F(WmiInventoryTest, NoMemoryValueLetsTheVersionChooseTheLookup) {
  // No instance at all: the user comes from GetUser.
  Lab(Computer(R"({})"));
  GetWMI(*state_);
  EXPECT_EQ(state_->LoggedOnUser, "OFFICE\\jsmith");
  EXPECT_EQ(state_->TargetName, "PC042");
}

TEST_F(WmiInventoryTest, UserOnlySettlesNameAndUserAndConnectsToNothing) {
  Lab(Computer(kFullWmi));
  state_->UserOnly = true;
  GetWMI(*state_);
  EXPECT_EQ(state_->TargetName, "PC042");
  EXPECT_EQ(state_->LoggedOnUser, "OFFICE\\jsmith");
  EXPECT_EQ(state_->WmiServices, nullptr);
  EXPECT_EQ(state_->Manufacturer, "");
  EXPECT_EQ(Progress(), (Lines{"PC042,6,192.0.2.42,0"}));
}

TEST_F(WmiInventoryTest, AnUnreadableComputerNameKeepsTheNameItWasReachedBy) {
  // Neither the registry nor WMI (an empty name) names the computer.
  Lab(R"({"names": ["PC042"], "address": "192.0.2.42", "registry": {},
          "wmi": {"Win32_ComputerSystem": [{"Name": ""}]}})");
  GetWMI(*state_);
  EXPECT_EQ(state_->TargetName, "PC042");
  EXPECT_EQ(Progress().front(), "PC042,6,192.0.2.42,0");
  EXPECT_EQ(Log(), (Lines{"Unable to read the computer name,PC042:the target names itself nowhere "
                          "it can be read; its inventory is kept under the name it was reached by"}));

  // WMI's name serves when the registry has none, and nothing is logged.
  std::filesystem::remove(temp_.path() / "Kelvarn.log");
  Lab(R"({"names": ["PC042"], "address": "192.0.2.42", "registry": {},
          "wmi": {"Win32_ComputerSystem": [{"Name": "OWN"}]}})");
  GetWMI(*state_);
  EXPECT_EQ(state_->TargetName, "OWN");
  EXPECT_TRUE(Log().empty());
}

TEST_F(WmiInventoryTest, ARefusedConnectionHandsOverToTheRegistryMethod) {
  Lab(Computer("false", R"(,
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Extra": {})"));
  GetWMI(*state_);
  const Lines log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("Unable to access WMI,PC042:", 0), 0u) << log[0];
  EXPECT_GT(log[0].size(), std::string("Unable to access WMI,PC042:").size());
  EXPECT_EQ(Progress(), (Lines{"PC042,6,192.0.2.42,0"}));
  EXPECT_EQ(state_->OperatingSystem, "Windows XP");  // filled by the registry method
}

TEST_F(WmiInventoryTest, AFailedQueryLeavesItsFieldsAndTheRunGoesOn) {
  Lab(Computer(R"({"Win32_OperatingSystem": {"error": "Invalid class", "number": -2147217392},
                   "Win32_BIOS": [{"Manufacturer": "Phoenix"}]})"));
  EXPECT_FALSE(EndsRun(GetWMI));
  EXPECT_EQ(state_->OperatingSystem, "");
  EXPECT_EQ(state_->BIOS, "Phoenix");
  EXPECT_TRUE(state_->LastFailure.set);
}

TEST_F(WmiInventoryTest, ObjectNotSetEndsTheRunWithEachCheckpointsTexts) {
  struct Case {
    const char* wmi_class;
    std::string log;
  };
  const std::string ns = R"({"error": "Object variable not set", "number": 91})";
  const Case cases[] = {
      {"Win32_ComputerSystem", "PC042:Object variable not set,ModGetWMI"},
      {"Win32_OperatingSystem", "PC042:Object variable not set,ModGetWMI"},
      {"Win32_Processor", "PC042:Object variable not set,ModGetWMI"},
      {"Win32_BIOS", "Error getting WMI BIOS information,PC042:Object variable not set"},
      {"Win32_LogicalDisk", "Error getting WMI Logical Disk information,PC042:Object variable not set"},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(temp_.path() / "Kelvarn.log");
    Lab(Computer(std::string(R"({")") + c.wmi_class + "\": " + ns + "}"));
    EXPECT_TRUE(EndsRun(GetWMI)) << c.wmi_class;
    EXPECT_EQ(Log(), (Lines{c.log})) << c.wmi_class;
    EXPECT_EQ(Progress().back(), "PC042,Complete,192.0.2.42,0") << c.wmi_class;
    EXPECT_TRUE(state_->FailureReported);
  }
}

}  // namespace
}  // namespace hostlore::test
