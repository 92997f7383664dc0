// What the runner reads: its command line, target lists, shards and the
// progress lines on the shared pipe.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fleet/fleet_options.h"
#include "fleet/progress_line.h"
#include "fleet/shard.h"
#include "fleet/target_list.h"
#include "support/test_support.h"

namespace hostlore::fleet {
namespace {

using Strings = std::vector<std::string>;

TEST(TargetListTest, RangesExpandToTheirHostAddresses) {
  Result<Strings> targets = ExpandTargets({"PC1", "192.0.2.8/30", "198.51.100.7/32", "10.0.0.0/31"});
  ASSERT_TRUE(targets.ok()) << targets.status().description();
  EXPECT_EQ(targets.value(), (Strings{"PC1", "192.0.2.9", "192.0.2.10", "198.51.100.7", "10.0.0.0",
                                      "10.0.0.1"}));
  Result<Strings> wide = ExpandTargets({"10.1.0.0/16"});
  ASSERT_TRUE(wide.ok());
  EXPECT_EQ(wide->size(), 65534u);
  EXPECT_EQ(wide->front(), "10.1.0.1");
  EXPECT_EQ(wide->back(), "10.1.255.254");
}

TEST(TargetListTest, BadTargetsAreRefusedWithTheReason) {
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"10.0.0.0/15", "at most 65536"},
      {"10.0.0.0/33", "not an IPv4 range"},
      {"10.0.0/24", "not an IPv4 range"},
      {"10.0.0.0/", "not an IPv4 range"},
      {"PC1,PC2", "no comma"},
      {std::string(65, 'a'), "1 to 64"},
      {"10.20.0.5/24", "\"10.20.0.5/24\" has host bits set: write 10.20.0.0/24 for the whole range, "
                       "or 10.20.0.5 for one computer"},
      {"@/nonexistent/targets.txt", "target list /nonexistent/targets.txt cannot be read: No such file"},
      {"@/", "target list / cannot be read: Is a directory"},
      {"@", "\"@\" needs the file name right after it"},
  };
  for (const auto& [argument, complaint] : bad) {
    Result<Strings> targets = ExpandTargets({argument});
    ASSERT_FALSE(targets.ok()) << argument;
    EXPECT_NE(targets.status().description().find(complaint), std::string::npos)
        << argument << " → " << targets.status().description();
  }
}

TEST(TargetListTest, FilesHoldOneTargetPerLineWithComments) {
  test::TempFolder folder;
  const auto list = folder.Write("targets.txt",
                                 "# office\nPC1\n  PC2   # the printer room\n\n192.0.2.0/30\r\n#PC3\n");
  Result<Strings> targets = ExpandTargets({"PC0", "@" + list.string()});
  ASSERT_TRUE(targets.ok()) << targets.status().description();
  EXPECT_EQ(targets.value(), (Strings{"PC0", "PC1", "PC2", "192.0.2.1", "192.0.2.2"}));

  const auto bad = folder.Write("bad.txt", "PC1\n10.0.0.0/8\n");
  Result<Strings> refused = ExpandTargets({"@" + bad.string()});
  ASSERT_FALSE(refused.ok());
  EXPECT_NE(refused.status().description().find("bad.txt:2:"), std::string::npos);
}

TEST(TargetListTest, ATargetGivenTwiceIsKeptOnce) {
  Strings targets = {"PC1", "10.0.0.1", "pc1", "PC2", "10.0.0.1", "Pc2", "PC3"};
  EXPECT_EQ(DropDuplicateTargets(targets), 3u);
  EXPECT_EQ(targets, (Strings{"PC1", "10.0.0.1", "PC2", "PC3"}));
}

TEST(ShardTest, ShardsPartitionTheListExactly) {
  Strings targets;
  for (int i = 0; i < 103; ++i) targets.push_back("PC" + std::to_string(i));
  for (size_t count : {1u, 2u, 7u, 103u, 200u}) {
    std::multiset<std::string> seen;
    for (size_t index = 0; index < count; ++index) {
      const Strings part = SelectShard(targets, Shard{index, count});
      seen.insert(part.begin(), part.end());
      if (!part.empty()) {
        EXPECT_EQ(part.front(), targets[index]);
      }
    }
    EXPECT_EQ(seen, std::multiset<std::string>(targets.begin(), targets.end())) << count;
  }
}

TEST(ShardTest, ShardTextIsKOverN) {
  Result<Shard> shard = ParseShard("2/5");
  ASSERT_TRUE(shard.ok());
  EXPECT_EQ(shard->index, 2u);
  EXPECT_EQ(shard->count, 5u);
  for (const char* bad : {"5/5", "1/0", "1", "-1/3", "a/3", "1/3x", "/3"}) {
    EXPECT_FALSE(ParseShard(bad).ok()) << bad;
  }
}

TEST(ProgressLineTest, FieldsAreTakenFromTheRight) {
  std::optional<ProgressLine> line = ParseProgressLine("PC,42,OFFICE,91.4285714285715,192.0.2.42,7");
  ASSERT_TRUE(line);
  EXPECT_EQ(line->target_name, "PC,42,OFFICE");
  EXPECT_DOUBLE_EQ(line->percent, 91.4285714285715);
  EXPECT_EQ(line->address, "192.0.2.42");
  EXPECT_EQ(line->caller_index, 7);

  line = ParseProgressLine(",Complete,,-32768");
  ASSERT_TRUE(line);
  EXPECT_TRUE(line->complete);
  EXPECT_EQ(line->target_name, "");
  EXPECT_EQ(line->caller_index, -32768);
}

TEST(ProgressLineTest, MalformedLinesAreRefused) {
  for (const char* bad : {"", "PC042", "PC042,2,7", "PC042,two,,7", "PC042,-2,,7", "PC042,2,,",
                          "PC042,2,,32768", "PC042,2,,7x", "PC042,complete,,7", "PC042,nan,,7"}) {
    EXPECT_FALSE(ParseProgressLine(bad)) << bad;
  }
}

Result<FleetOptions> Parse(const Strings& args) { return ParseFleetOptions(args, "/opt/hostlore"); }

TEST(FleetOptionsTest, OptionsAndOperands) {
  Result<FleetOptions> options = Parse({"--jobs", "8", "--timeout=30", "-u", "--shard", "1/4", "--rate", "2000",
                                        "--agent-per-target", "--report", "r.csv", "sqlite:/tmp/i.db", "PC1", "PC2"});
  ASSERT_TRUE(options.ok()) << options.status().description();
  EXPECT_EQ(options->runner.jobs, 8);
  EXPECT_EQ(options->runner.timeout, std::chrono::seconds(30));
  EXPECT_TRUE(options->runner.user_only);
  EXPECT_EQ(options->runner.rate, 2000);
  EXPECT_TRUE(options->runner.agent_per_target);
  EXPECT_EQ(options->shard->index, 1u);
  EXPECT_EQ(options->report_path, "r.csv");
  EXPECT_EQ(options->runner.agent_path, "/opt/hostlore");
  EXPECT_EQ(options->runner.server, "sqlite:/tmp/i.db");
  EXPECT_EQ(options->target_arguments, (Strings{"PC1", "PC2"}));

  Result<FleetOptions> defaults = Parse({"DBSRV", "PC1"});
  ASSERT_TRUE(defaults.ok());
  EXPECT_EQ(defaults->runner.jobs, kDefaultJobs);
  EXPECT_EQ(defaults->runner.timeout, std::chrono::seconds(kDefaultTimeoutSeconds));
  EXPECT_FALSE(defaults->runner.user_only);
  EXPECT_EQ(defaults->runner.rate, kDefaultRate);
  EXPECT_FALSE(defaults->runner.agent_per_target);
}

TEST(FleetOptionsTest, MistakesGetAClearMessage) {
  const std::vector<std::pair<Strings, std::string>> bad = {
      {{"--jobs", "0", "S", "T"}, "--jobs \"0\""},
      {{"--jobs", "100000", "S", "T"}, "from 1 to"},
      {{"--timeout", "-1", "S", "T"}, "--timeout"},
      {{"--rate", "0", "S", "T"}, "--rate \"0\""},
      {{"--rate=30001", "S", "T"}, "from 1 to 30000"},
      {{"--report", "r.txt", "S", "T"}, ".json or .csv"},
      {{"--shard", "3/3", "S", "T"}, "K/N"},
      {{"--colour", "S", "T"}, "unknown option \"--colour\""},
      {{"S", "T", "--jobs"}, "--jobs needs a value"},
      {{"S"}, "at least one target"},
      {{"a,b", "T"}, "may not contain a comma"},
  };
  for (const auto& [args, complaint] : bad) {
    Result<FleetOptions> options = Parse(args);
    ASSERT_FALSE(options.ok()) << args.front();
    EXPECT_NE(options.status().description().find(complaint), std::string::npos)
        << options.status().description();
  }
}

}  // namespace
}  // namespace hostlore::fleet
