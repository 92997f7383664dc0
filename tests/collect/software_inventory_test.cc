// The software inventory: entries, filters, order, duplicates, the dump file
// and what a failed inventory leaves behind.
#include "collect/software_inventory.h"

#include <fstream>
#include <sstream>

#include "support/collector_fixture.h"

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;
const std::string kS = "\xC2\xA7";  // §

std::string Uninstall(const std::string& subkey, const std::string& values) {
  return R"(, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\)" + subkey +
         "\": {" + values + "}";
}

std::string Installer(const std::string& profile, const std::string& product,
                      const std::string& values) {
  return R"(, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\userdata\\)" +
         profile + "\\\\Products\\\\" + product + "\\\\InstallProperties\": {" + values + "}";
}

std::string WithKeys(const std::string& keys) {
  return R"({"names": ["PC042"], "address": "192.0.2.42", "registry": {
      "HKLM\\Software": {})" + keys + "}}";
}

class SoftwareInventoryTest : public CollectorTest {};

TEST_F(SoftwareInventoryTest, BuildsSortedEntriesFromBothSources) {
  Lab(WithKeys(
      Uninstall("zip", R"("DisplayName": "WinZip", "DisplayVersion": "9.0",
                          "InstallLocation": {"type": "REG_EXPAND_SZ", "data": "%ProgramFiles%\\WinZip"},
                          "UninstallString": "x")") +
      Uninstall("hotfix", R"("DisplayName": "Hotfix", "UninstallString": "")") +
      Uninstall("nouninstall", R"("DisplayName": "Orphan")") +
      Uninstall("empty", R"("UninstallString": "x")") +
      Uninstall("office", R"("DisplayName": "Office", "ProductID": "739-31", "UninstallString": "x")") +
      Installer("S-1-5-18", "4080", R"("DisplayName": "Acrobat", "DisplayVersion": "7.0",
                                       "RegCompany": "ACME", "RegOwner": "Zoë")") +
      Installer("S-1-5-18", "0001", "")));
  GetSoftware(*state_);
  EXPECT_EQ(state_->SoftwareList,
            "Acrobat" + kS + "7.0" + kS + kS + kS + "ACME" + kS + "Zoë^" +
            "Office" + kS + kS + kS + "739-31" + kS + kS + "^" +
            "WinZip" + kS + "9.0" + kS + "%ProgramFiles%\\WinZip " + kS + kS + kS);
  EXPECT_FALSE(state_->SoftwareInventoryFailed);

  // The dump file holds the same entries, one per CR LF line.
  const Lines dump = ReadCrLfLines(temp_.path() / "test.txt");
  ASSERT_EQ(dump.size(), 3u);
  EXPECT_EQ(dump[0].substr(0, 7), "Acrobat");

  // Five uninstall subkeys: steps of 10 from 50.
  EXPECT_EQ(Progress(), (Lines{"PC042,35,192.0.2.42,0", "PC042,40,192.0.2.42,0",
                               "PC042,60,192.0.2.42,0", "PC042,70,192.0.2.42,0",
                               "PC042,80,192.0.2.42,0", "PC042,90,192.0.2.42,0",
                               "PC042,100,192.0.2.42,0"}));
}

TEST_F(SoftwareInventoryTest, NeighboursWithTheSameNameKeepTheOneThatSortsLast) {
  Lab(WithKeys(Uninstall("a", R"("DisplayName": "Reader", "DisplayVersion": "7", "UninstallString": "x")") +
               Installer("S-1", "p", R"("DisplayName": "Reader", "DisplayVersion": "8")") +
               Uninstall("b", R"("DisplayName": "reader", "UninstallString": "x")")));
  GetSoftware(*state_);
  // Sorted: Reader§7…, Reader§8…, reader§§…. Of the two "Reader" neighbours
  // the one that sorts last stays; "reader" differs in case and stays too.
  EXPECT_EQ(state_->SoftwareList,
            "Reader" + kS + "8" + kS + kS + kS + kS + "^reader" + kS + kS + kS + kS + kS);
}

TEST_F(SoftwareInventoryTest, ReadsEveryViewProgramsAndFeaturesShows) {
  const std::string user = "S-1-5-21-1004336348-1177238915-682003330-1001";
  const auto view = [](const std::string& key, const std::string& name, const std::string& values) {
    return ", \"" + key + "\\\\" + name + "\": {" + values + "}";
  };
  const std::string wow =
      "HKLM\\\\Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";
  const std::string mine =
      "HKU\\\\" + user + "\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";
  const std::string mine32 =
      "HKU\\\\" + user +
      "\\\\Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";
  const std::string classes =
      "HKU\\\\" + user +
      "_Classes\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";
  const std::string system =
      "HKU\\\\S-1-5-18\\\\Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall";
  Lab(WithKeys(
      Uninstall("7z",
                R"("DisplayName": "7-Zip", "DisplayVersion": "23.01", "UninstallString": "x")") +
      view(wow, "np", R"j("DisplayName": "Notepad++ (32-bit)", "UninstallString": "x")j") +
      view(wow, "7z",
           R"("DisplayName": "7-Zip", "DisplayVersion": "9.20", "UninstallString": "x")") +
      view(wow, "kb", R"("DisplayName": "Update", "UninstallString": "")") +
      view(mine, "teams", R"("DisplayName": "Teams", "UninstallString": "x")") +
      view(mine32, "zoom", R"("DisplayName": "Zoom", "UninstallString": "x")") +
      view(classes, "no", R"("DisplayName": "Not a profile", "UninstallString": "x")") +
      view(system, "no", R"("DisplayName": "Not a user", "UninstallString": "x")")));
  GetSoftware(*state_);
  // The same rules in every view: an uninstall string is needed, neighbours
  // with one name keep the entry that sorts last.
  EXPECT_EQ(state_->SoftwareList, "7-Zip" + kS + "9.20" + kS + kS + kS + kS + "^" +
                                      "Notepad++ (32-bit)" + kS + kS + kS + kS + kS + "^" +
                                      "Teams" + kS + kS + kS + kS + kS + "^" + "Zoom" + kS + kS +
                                      kS + kS + kS);
  // Six subkeys in the four views read: the climb spans all of them.
  EXPECT_EQ(Progress(),
            (Lines{"PC042,35,192.0.2.42,0", "PC042,40,192.0.2.42,0", "PC042,58,192.0.2.42,0",
                   "PC042,66,192.0.2.42,0", "PC042,74,192.0.2.42,0", "PC042,82,192.0.2.42,0",
                   "PC042,90,192.0.2.42,0", "PC042,98,192.0.2.42,0"}));
}

TEST_F(SoftwareInventoryTest, OneUninstallSubkeyIsInventoried) {
  Lab(WithKeys(Uninstall("only", R"("DisplayName": "Solo", "UninstallString": "x")")));
  GetSoftware(*state_);
  EXPECT_EQ(state_->SoftwareList, "Solo" + kS + kS + kS + kS + kS);
  EXPECT_TRUE(Log().empty());
}

TEST_F(SoftwareInventoryTest, AnUnreadableRegistryKeepsTheListAndMarksTheFailure) {
  Lab(R"({"names": ["PC042"], "address": "192.0.2.42", "registry": false})");
  state_->SoftwareList = "kept";
  GetSoftware(*state_);
  EXPECT_EQ(state_->SoftwareList, "kept");
  EXPECT_TRUE(state_->SoftwareInventoryFailed);
  EXPECT_EQ(Log(), (Lines{"Unable to access remote registry,PC042:"}));
  EXPECT_EQ(Progress(), (Lines{"PC042,35,192.0.2.42,0", "PC042,40,192.0.2.42,0"}));
}

TEST_F(SoftwareInventoryTest, AnUnwritableDumpFileIsLoggedButTheListStands) {
  Lab(WithKeys(Uninstall("only", R"("DisplayName": "Solo", "UninstallString": "x")")));
  state_->TempDir = (temp_.path() / "missing-folder").string();
  GetSoftware(*state_);
  EXPECT_EQ(state_->SoftwareList, "Solo" + kS + kS + kS + kS + kS);
  EXPECT_FALSE(state_->SoftwareInventoryFailed);
}

TEST_F(SoftwareInventoryTest, UntrustedNamesAreKeptWholeAndExact) {
  const std::string odd = std::string(300, 'n') + ", \\\"quoted\\\"\\nline^caret";
  Lab(WithKeys(Uninstall("odd", "\"DisplayName\": \"" + odd + "\", \"UninstallString\": \"x\"")));
  GetSoftware(*state_);
  const std::string expected_name = std::string(300, 'n') + ", \"quoted\"\nline^caret";
  EXPECT_EQ(state_->SoftwareList, expected_name + kS + kS + kS + kS + kS);
}

}  // namespace
}  // namespace hostlore::test
