// The pages in Debian's headless Chromium, over a demo database that the
// agent fills from the lab plus a computer whose names are hostile: the DOM
// the browser built (after the page's script ran), the filter box that
// script adds, and a display name that tries to run script of its own.
#include <gtest/gtest.h>

#include <fstream>

#include "support/test_support.h"
#include "util/escape.h"
#include "web/browser_session.h"

namespace hostlore::test {
namespace {

const std::string kHostileName = "<script>document.title='pwned'</script>";
const std::string kHostileUser = "\"><img src=x onerror=\"document.title='pwned'\">";

// The lab's PC042 under hostile names, at 192.0.2.199.
void WriteHostileComputer(const std::filesystem::path& lab) {
  std::ifstream source(std::string(HOSTLORE_SOURCE_DIR) + "/lab/pc042.json");
  nlohmann::json computer = nlohmann::json::parse(source);
  computer["names"] = {"EVIL01"};
  computer["address"] = "192.0.2.199";
  computer["registry"]["HKLM\\System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName"]["ComputerName"] =
      kHostileName;
  computer["wmi"]["Win32_ComputerSystem"][0]["Name"] = kHostileName;
  computer["wmi"]["Win32_ComputerSystem"][0]["UserName"] = kHostileUser;
  std::ofstream(lab / "evil01.json") << computer.dump();
}

class BrowserTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempFolder();
    const std::filesystem::path lab = folder_->path() / "lab";
    std::filesystem::create_directory(lab);
    for (const char* name : {"pc042", "srv2000", "nt4box", "locked01"}) {
      std::filesystem::copy_file(std::string(HOSTLORE_SOURCE_DIR) + "/lab/" + name + ".json",
                                 lab / (std::string(name) + ".json"));
    }
    WriteHostileComputer(lab);
    const std::string database = "sqlite:" + (folder_->path() / "demo.db").string();
    for (const char* target : {"PC042", "SRV2000", "NT4BOX", "LOCKED01", "192.0.2.199"}) {
      RunAgentProcess(std::string("1,") + target + "," + database + ",,1", folder_->path(),
                      {{"HOSTLORE_LAB", lab.string()}});
    }
    web_ = new ChildProcess({HOSTLORE_WEB_PATH, database, "--listen", "127.0.0.1:0", "--index",
                             (folder_->path() / "index.sqlite").string()},
                            true);
    const std::string serving = web_->ReadLine(60);  // "hostlore-web: serving http://127.0.0.1:PORT/"
    const size_t at = serving.find("http://");
    if (at != std::string::npos) base_ = serving.substr(at, serving.size() - at - 1);
    browser_ = new BrowserSession(folder_->path() / "profile");
  }
  static void TearDownTestSuite() {
    delete browser_;
    delete web_;
    delete folder_;
  }
  void SetUp() override {
    if (!browser_->ok()) GTEST_SKIP() << "no browser: " << browser_->reason();
    ASSERT_FALSE(base_.empty()) << "hostlore-web did not start";
  }

  static nlohmann::json Open(const std::string& path, const std::string& script) {
    browser_->Open(base_ + path);
    return browser_->Run(script);
  }

  static TempFolder* folder_;
  static ChildProcess* web_;
  static BrowserSession* browser_;
  static std::string base_;
};

TempFolder* BrowserTest::folder_ = nullptr;
ChildProcess* BrowserTest::web_ = nullptr;
BrowserSession* BrowserTest::browser_ = nullptr;
std::string BrowserTest::base_;

TEST_F(BrowserTest, PagesRenderTheirDataAndTheFilterBoxWorks) {
  nlohmann::json page = Open("/", "return [document.title, document.querySelectorAll('table.counts tbody tr').length,"
                                  " document.querySelector('main p.lead').textContent];");
  EXPECT_EQ(page[0], "Fleet · Hostlore");
  EXPECT_GE(page[1], 6);
  EXPECT_EQ(page[2], "5 computers · 0 stale · 4 new this week");

  page = Open("/computers", "return [document.querySelectorAll('table.computers tbody tr').length,"
                           " document.querySelectorAll('input.row-filter').length];");
  EXPECT_EQ(page[0], 5);
  EXPECT_EQ(page[1], 1);  // added by the page's script
  browser_->Type("input.row-filter", "srv2000");
  EXPECT_EQ(browser_->Run("return [...document.querySelectorAll('table.computers tbody tr')]"
                          ".filter(row => !row.hidden).map(row => row.cells[0].textContent);"),
            nlohmann::json::array({"SRV2000"}));

  page = Open("/computer?name=pc042",
              "return [document.title, document.querySelectorAll('#software tbody tr').length,"
              " document.querySelectorAll('svg.chart').length, document.querySelector('dl.summary dd').textContent];");
  EXPECT_EQ(page[0], "PC042 · Hostlore");
  EXPECT_EQ(page[1], 28);
  EXPECT_EQ(page[2], 2);  // drives C: and H:
  EXPECT_EQ(page[3], "192.0.2.42");

  page = Open("/software?q=office", "return [...document.querySelectorAll('table.software tbody tr td:first-child')]"
                                    ".map(cell => cell.textContent);");
  EXPECT_EQ(page, nlohmann::json::array({"Microsoft Office 97, Professional Edition",
                                         "Microsoft Office Professional Edition 2003",
                                         "Microsoft Office Proofing Tools"}));
  page = Open("/changes?kind=new", "return document.querySelectorAll('table.changes tbody tr').length;");
  EXPECT_EQ(page, 4);
}

TEST_F(BrowserTest, HostileNamesStayTextAndRunNoScript) {
  const std::string probe =
      "return [document.title, document.querySelector('h1').textContent, document.scripts.length,"
      " document.images.length, document.querySelectorAll('[onerror]').length];";
  nlohmann::json page = Open("/computer?name=" + Escape(kHostileName, EscapeFor::kUrlComponent), probe);
  EXPECT_EQ(page[0], kHostileName + " · Hostlore");
  EXPECT_EQ(page[1], kHostileName);
  EXPECT_EQ(page[2], 1);  // the page's own script only
  EXPECT_EQ(page[3], 0);
  EXPECT_EQ(page[4], 0);
  for (const char* path : {"/", "/computers?sort=user", "/changes"}) {
    page = Open(path, probe);
    EXPECT_NE(page[0], "pwned") << path;
    EXPECT_EQ(page[2], 1) << path;
    EXPECT_EQ(page[3], 0) << path;
  }
  // The hostile user name is on the page as the text it is.
  EXPECT_EQ(Open("/computers?sort=user",
                 "return document.body.textContent.includes(" + nlohmann::json(kHostileUser).dump() + ");"),
            true);
}

}  // namespace
}  // namespace hostlore::test
