// hostlore-fleet sweeping a /24 with real ICMP, inside network namespaces of
// the test's own: a few addresses answer (one of them just in time, one just
// too late), the rest are silent.
#include <gtest/gtest.h>

#include <map>

#include "db/table_queries.h"
#include "fleet/fleet_process.h"
#include "platform/network/icmp/echo_responder.h"
#include "platform/network/namespace_pair.h"
#include "support/stored_rows.h"

namespace hostlore::test {
namespace {

using std::chrono::milliseconds;

TEST(FleetNetworkTest, ASweepOfARangeStartsAgentsOnlyForWhatAnswered) {
  std::string why_not;
  const std::unique_ptr<testing::NamespacePair> pair = testing::NamespacePair::Create(why_not);
  if (pair == nullptr) GTEST_SKIP() << why_not;
  std::vector<Ipv4Address> range;
  for (uint8_t host = 1; host < 255; ++host) range.push_back({10, 213, 3, host});
  ASSERT_TRUE(pair->AllLeaveThroughOwnVeth(range)) << "10.213.3.0/24 must stay inside the test's namespaces";
  const std::map<Ipv4Address, milliseconds> answering = {{{10, 213, 3, 10}, milliseconds(0)},
                                                         {{10, 213, 3, 20}, milliseconds(0)},
                                                         {{10, 213, 3, 40}, milliseconds(1900)},
                                                         {{10, 213, 3, 41}, milliseconds(2100)}};
  const auto responder = testing::EchoResponder::Start(*pair, answering, why_not);
  ASSERT_NE(responder, nullptr) << why_not;

  TempFolder work;
  const auto report = work.path() / "r.json";
  const std::string db = "sqlite:" + (work.path() / "inventory.db").string();
  const FleetResult result = RunFleet({"--rate", "1000", "--jobs", "8", "--report", report.string(), db,
                                       "10.213.3.0/24"},
                                      work.path(), {}, pair->client_namespace());
  ASSERT_EQ(result.err, "");
  std::map<std::string, std::string> agents;  // target → outcome, for those that got an agent
  size_t silent = 0;
  const nlohmann::json rows = ReadJson(report)["targets"];
  for (const nlohmann::json& row : rows) {
    const std::string outcome = row["outcome"].get<std::string>();
    if (outcome == "not answering" && row["peak_rss_kb"].get<long>() == 0) {
      ++silent;
    } else {
      agents[row["target"].get<std::string>()] = outcome;
    }
  }
  EXPECT_EQ(silent, 251u) << result.out;
  ASSERT_EQ(agents.size(), 3u) << result.out;
  for (const std::string target : {"10.213.3.10", "10.213.3.20", "10.213.3.40"}) {
    // No SMB peer there: the agent's registry check fails.
    EXPECT_EQ(agents[target], "access refused") << target << "\n" << result.out;
  }

  EXPECT_EQ(CountRows(db, AllLastAccessRows()), 254);
  const auto access_time = [&](const std::string& target) {
    const std::vector<FieldValue> row = ReadRow(db, LastAccessRowQuery(target));
    return row.size() > 1 && !row[1].is_null();
  };
  EXPECT_TRUE(access_time("10.213.3.10"));
  EXPECT_TRUE(access_time("10.213.3.40"));
  EXPECT_FALSE(access_time("10.213.3.41"));
  EXPECT_FALSE(access_time("10.213.3.77"));
}

}  // namespace
}  // namespace hostlore::test
