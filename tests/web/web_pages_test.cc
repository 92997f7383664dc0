// Each page of the web view on both engines, as HTML, CSV and JSON, over a
// fleet with new, changed, stale, vanished and never inventoried computers;
// and the answers to requests that cannot be served.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "web/web_fixture.h"

namespace hostlore::test {
namespace {

class WebPagesTest : public WebFixture {
 protected:
  nlohmann::json Json(const std::string& path) {
    httplib::Result result = Get(path);
    if (!result) return {};
    EXPECT_EQ(result->status, 200) << path << "\n" << result->body;
    EXPECT_EQ(result->get_header_value("Content-Type"), "application/json") << path;
    return nlohmann::json::parse(result->body);
  }
  std::string Html(const std::string& path) {
    httplib::Result result = Get(path);
    if (!result) return {};
    EXPECT_EQ(result->status, 200) << path << "\n" << result->body;
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/html; charset=utf-8") << path;
    EXPECT_NE(result->get_header_value("Content-Security-Policy").find("script-src 'self'"), std::string::npos);
    return result->body;
  }
  static std::vector<std::string> Names(const nlohmann::json& rows, const char* key = "name") {
    std::vector<std::string> names;
    for (const nlohmann::json& row : rows) names.push_back(row[key]);
    return names;
  }
};

TEST_P(WebPagesTest, FleetPageCountsAndLists) {
  const std::string html = Html("/");
  EXPECT_NE(html.find("<title>Fleet · Hostlore</title>"), std::string::npos);
  EXPECT_NE(html.find("6 computers"), std::string::npos);
  EXPECT_NE(html.find("<a href=\"/computers?outcome=never-answered\">never answered</a>"), std::string::npos) << html;
  const nlohmann::json fleet = Json("/?format=json");
  EXPECT_EQ(fleet["computers"], 6);
  EXPECT_EQ(Names(fleet["stale"]["rows"]), (std::vector<std::string>{"OLD01", "SILENT9"}));
  EXPECT_EQ(Names(fleet["new"]["rows"]), (std::vector<std::string>{"NEW01"}));
  EXPECT_EQ(fleet["newest_changes"][0]["computer"], "PC042");
  httplib::Result csv = Get("/?format=csv");
  ASSERT_TRUE(csv);
  EXPECT_TRUE(csv->body.starts_with("list,value,computers\r\n")) << csv->body;
  EXPECT_NE(csv->body.find("\r\nstale,,2\r\n"), std::string::npos) << csv->body;
}

TEST_P(WebPagesTest, ComputersAreFilteredSortedAndPaged) {
  const std::string html = Html("/computers?stale=yes");
  EXPECT_NE(html.find("<tr class=\"stale\"><td><a href=\"/computer?name=OLD01\">OLD01</a> <span class=\"tag\">stale</span>"),
            std::string::npos)
      << html;
  EXPECT_EQ(html.find("PC042"), std::string::npos);
  const nlohmann::json page = Json("/computers?sort=-memory&per_page=2&format=json");
  EXPECT_EQ(page["total"], 6);
  EXPECT_EQ(page["rows"][0]["name"], "PC042");
  EXPECT_EQ(page["next"], "/computers?sort=-memory&page=2&per_page=2&format=json");
  EXPECT_EQ(Names(Json("/computers?q=192.0.2.5&format=json")["rows"]), (std::vector<std::string>{"NEW01"}));
  EXPECT_EQ(Names(Json("/computers?outcome=not-inventoried&format=json")["rows"]), (std::vector<std::string>{"LOCKED1"}));
  httplib::Result csv = Get("/computers?new=yes&format=csv");
  ASSERT_TRUE(csv);
  EXPECT_EQ(csv->get_header_value("Content-Disposition"), "attachment; filename=\"computers.csv\"");
  EXPECT_TRUE(csv->body.starts_with("name,address,operating_system,")) << csv->body;
  EXPECT_NE(csv->body.find("\r\nNEW01,192.0.2.51,"), std::string::npos) << csv->body;
}

TEST_P(WebPagesTest, ComputerPageShowsEverythingStored) {
  const std::string html = Html("/computer?name=pc042");
  for (const char* expected :
       {"<title>PC042 · Hostlore</title>", "Physical Memory changed from 512 To 1024", "<polyline class=\"line\"",
        "<td>Microsoft Visio</td><td>12</td><td>C:\\Apps</td><td>{Microsoft Visio}</td>", "<td>Alerter</td>",
        "<td>TotalPhysicalMemory</td><td>1024</td>", "<td>pc042.corp.example</td><td>2003/06/09 09:00:00</td>"}) {
    EXPECT_NE(html.find(expected), std::string::npos) << expected;
  }
  const std::string hardware = Html("/computer?name=PC042&kind=hardware");
  EXPECT_EQ(hardware.find("New Software installed"), std::string::npos);
  const nlohmann::json record = Json("/computer?name=PC042&format=json");
  EXPECT_EQ(record["stale"], false);
  EXPECT_EQ(record["software"].size(), 2u);
  EXPECT_EQ(record["drive-history"].size(), 2u);
  httplib::Result csv = Get("/computer?name=PC042&format=csv&list=changes");
  ASSERT_TRUE(csv);
  EXPECT_TRUE(csv->body.starts_with("time,kind,subject,message\r\n2003/06/09 09:00:00,installed,Microsoft Visio,"))
      << csv->body;
}

TEST_P(WebPagesTest, SoftwareAndChangesPages) {
  const nlohmann::json programs = Json("/software?q=OFFICE&format=json");
  ASSERT_EQ(programs["rows"].size(), 1u);
  EXPECT_EQ(programs["rows"][0]["computers"], 3);
  EXPECT_NE(Html("/software?q=office").find("<a href=\"/software/computers?program=Microsoft%20Office&amp;version=11\">11</a> (2)"),
            std::string::npos);
  EXPECT_EQ(Names(Json("/software/computers?program=Microsoft%20Office&version=11&format=json")["rows"], "computer"),
            (std::vector<std::string>{"NEW01", "OLD01"}));
  const nlohmann::json installed = Json("/changes?since=2003-06-09&kind=installed&format=json");
  ASSERT_EQ(installed["rows"].size(), 1u);
  EXPECT_EQ(installed["rows"][0]["subject"], "Microsoft Visio");
  EXPECT_NE(Html("/changes?computer=old01").find("<td>new</td>"), std::string::npos);
}

TEST_P(WebPagesTest, RequestsThatCannotBeServedSayWhy) {
  for (const char* bad :
       {"/computers?page=0", "/computers?page=x", "/computers?per_page=5000", "/computers?sort=size",
        "/computers?stale=maybe", "/computers?colour=red", "/computers?q=a&q=b", "/changes?since=yesterday",
        "/changes?kind=everything", "/computer", "/computer?name=PC042&list=secrets", "/software/computers",
        "/?format=xml"}) {
    httplib::Result result = Get(bad);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 400) << bad << "\n" << result->body;
  }
  httplib::Result json = Get("/changes?since=yesterday&format=json");
  ASSERT_TRUE(json);
  EXPECT_EQ(nlohmann::json::parse(json->body)["error"],
            "parameter \"since\" takes a date such as 2024-05-01 or 2024-05-01 13:05");
  for (const char* missing : {"/nothing", "/computer?name=NOBODY", "/static/other.css", "/computers/"}) {
    httplib::Result result = Get(missing);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 404) << missing;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, WebPagesTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

}  // namespace
}  // namespace hostlore::test
