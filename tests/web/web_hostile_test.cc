// Text from a target is hostile: markup, quotes, javascript: links, line
// breaks, formulas, very long texts and bytes that are no UTF-8 reach every
// page, export and header of the view inert; and no request, however
// malformed its parameters, makes it fail.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <random>

#include "util/escape.h"
#include "web/web_fixture.h"

namespace hostlore::test {
namespace {

const std::string kName = "<script>document.title='pwned'</script>\"&";
const std::string kUser = "\"><img src=x onerror=\"document.title='pwned'\">";

class WebHostileTest : public WebFixture {
 protected:
  void AddComputers() override {
    Scan(kName, LocalTime(2003, 6, 9, 10, 0, 0), [](ScanState& s) {
      s.TargetAddress = "192.0.2.66";
      s.LoggedOnUser = kUser;
      s.Description = "javascript:alert(1)";
      s.Manufacturer = "=HYPERLINK(\"http://example.invalid\")";
      s.Model = "line\r\nSet-Cookie: taken=1";
      s.OperatingSystem = "Windows " + std::string(100000, 'W');
      s.Domain = "bad\xFF\xFE" "bytes";
      s.SoftwareList = "<b>Tool</b>\xC2\xA7" "1\xC2\xA7javascript:x\xC2\xA7\xC2\xA7\xC2\xA7^@SUM(A1)\xC2\xA7" "2";
      s.ServicesList = "</td></tr></table><script>alert(1)</script>^+cmd";
    });
  }

  // The answer's body, after checking that it is valid UTF-8 and, for a
  // page, carries nothing a target wrote as live markup (CSV and JSON carry
  // the text as it is, under their own types, which browsers never run).
  std::string Checked(const std::string& path) {
    httplib::Result result = Get(path);
    if (!result) return {};
    EXPECT_TRUE(result->status == 200) << path << ": " << result->status;
    EXPECT_FALSE(result->has_header("Set-Cookie")) << path;
    EXPECT_NO_THROW(nlohmann::json(result->body).dump()) << path << " is no UTF-8";
    EXPECT_EQ(result->get_header_value("X-Content-Type-Options"), "nosniff");
    if (result->get_header_value("Content-Type").starts_with("text/html")) {
      for (const char* live : {"<script>document", "<img src=x", "<b>Tool</b>", "</td></tr></table><script>"}) {
        EXPECT_EQ(result->body.find(live), std::string::npos) << live << " in " << path;
      }
    }
    return result->body;
  }
};

TEST_P(WebHostileTest, HostileTextIsInertOnEveryPageAndExport) {
  const std::string name = Escape(kName, EscapeFor::kUrlComponent);
  const std::string escaped_name = "&lt;script&gt;document.title=&#39;pwned&#39;&lt;/script&gt;&quot;&amp;";
  for (const auto& [path, shown] : std::vector<std::pair<std::string, std::string>>{
           {"/", escaped_name}, {"/computers", escaped_name}, {"/computers?sort=user", "&quot;&gt;&lt;img src=x"},
           {"/computer?name=" + name, escaped_name}, {"/software?q=tool", "&lt;b&gt;Tool&lt;/b&gt;"},
           {"/software/computers?q=tool", escaped_name}, {"/changes", escaped_name}}) {
    EXPECT_NE(Checked(path).find(shown), std::string::npos) << path;
    const std::string separator = path.find('?') == std::string::npos ? "?" : "&";
    EXPECT_NO_THROW(nlohmann::json::parse(Checked(path + separator + "format=json"))) << path;
    Checked(path + separator + "format=csv");
  }
  const std::string page = Checked("/computer?name=" + name);
  EXPECT_NE(page.find("<title>&lt;script&gt;document.title=&#39;pwned&#39;&lt;/script&gt;&quot;&amp; · Hostlore</title>"),
            std::string::npos);
  EXPECT_NE(page.find(std::string(100000, 'W')), std::string::npos);  // long texts whole
  EXPECT_NE(page.find("bad\xEF\xBF\xBD\xEF\xBF\xBD" "bytes"), std::string::npos);
  EXPECT_NE(page.find("<td>javascript:x</td>"), std::string::npos);  // text, never a link

  const std::string fields = Checked("/computer?name=" + name + "&format=csv&list=fields");
  EXPECT_NE(fields.find("\r\nManufacturer,\"'=HYPERLINK(\"\"http://example.invalid\"\")\",false\r\n"), std::string::npos)
      << fields.substr(0, 400);
  EXPECT_NE(fields.find("\r\nModel,\"line\r\nSet-Cookie: taken=1\",false\r\n"), std::string::npos);
  const std::string software = Checked("/computer?name=" + name + "&format=csv&list=software");
  EXPECT_NE(software.find("\r\n'@SUM(A1),2,"), std::string::npos) << software;
  const std::string services = Checked("/computer?name=" + name + "&format=csv&list=services");
  EXPECT_NE(services.find("\r\n'+cmd\r\n"), std::string::npos) << services;
}

TEST_P(WebHostileTest, MalformedParametersNeverMakeThePageFail) {
  static const char* const kPaths[] = {"/", "/computers", "/computer", "/software", "/software/computers", "/changes"};
  static const char* const kNames[] = {"q", "name", "page", "per_page", "sort", "since", "kind", "format",
                                       "list", "program", "version", "stale", "new", "os", "x"};
  std::mt19937 random(15);
  for (int request = 0; request < 300; ++request) {
    std::string path = kPaths[random() % std::size(kPaths)];
    for (int param = 0, count = 1 + static_cast<int>(random() % 3); param < count; ++param) {
      std::string value(random() % 40, '\0');
      for (char& c : value) c = static_cast<char>(random() % 256);
      path += (param == 0 ? "?" : "&") + std::string(kNames[random() % std::size(kNames)]) + "=" +
              Escape(value, EscapeFor::kUrlComponent);
    }
    httplib::Result result = Get(path);
    ASSERT_TRUE(result) << path;
    EXPECT_TRUE(result->status == 200 || result->status == 400 || result->status == 404)
        << path << ": " << result->status << "\n" << result->body;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, WebHostileTest, ::testing::Values(DbEngine::kSqlite), EngineName);

}  // namespace
}  // namespace hostlore::test
