#include "run/command_line.h"

#include <gtest/gtest.h>

namespace hostlore {
namespace {

TEST(CommandLineTest, SplitsAtEveryCommaWithoutTrimming) {
  EXPECT_EQ(SplitFields("1312, PC042,DBSRV,,7"),
            (std::vector<std::string>{"1312", " PC042", "DBSRV", "", "7"}));
  EXPECT_EQ(SplitFields(""), (std::vector<std::string>{""}));
  EXPECT_EQ(SplitFields("a,b,c,d,e,f,-u").size(), 7u);
  EXPECT_EQ(SplitFields(",,"), (std::vector<std::string>{"", "", ""}));
}

TEST(CommandLineTest, JoinsArgumentsWithSingleBlanks) {
  const char* argv[] = {"hostlore", "1,PC042,DB", "SRV,,7"};
  EXPECT_EQ(JoinArguments(3, argv), "1,PC042,DB SRV,,7");
  EXPECT_EQ(JoinArguments(1, argv), "");
}

TEST(CommandLineTest, ConvertsDecimalIntegersWithinTheirRange) {
  EXPECT_EQ(ParseInt32("1312").value(), 1312);
  EXPECT_EQ(ParseInt32("-2147483648").value(), INT32_MIN);
  EXPECT_EQ(ParseInt32("+7").value(), 7);
  EXPECT_FALSE(ParseInt32("2147483648").ok());
  EXPECT_EQ(ParseInt16("32767").value(), 32767);
  EXPECT_EQ(ParseInt16("-1").value(), -1);
  EXPECT_FALSE(ParseInt16("32768").ok());
  EXPECT_FALSE(ParseInt16("-32769").ok());
  EXPECT_NE(ParseInt16("40000").status().description().find("out of range"), std::string::npos);
}

TEST(CommandLineTest, RejectsAnythingButDigitsAndASign) {
  for (const char* bad : {"", "abc", " 7", "7 ", "1.5", "0x10", "-", "+-1", "1e3", "7a"}) {
    const Result<int32_t> parsed = ParseInt32(bad);
    EXPECT_FALSE(parsed.ok()) << "'" << bad << "'";
  }
  EXPECT_NE(ParseInt32("abc").status().description().find("not a decimal number"),
            std::string::npos);
}

TEST(CommandLineTest, BuildsTheConnectionStringAroundTheServerField) {
  EXPECT_EQ(BuildConnectionString("DBSRV"),
            "Provider=SQLOLEDB;Data Source=DBSRV;Initial Catalog=BrindleAsset;"
            "Trusted_Connection=yes");
}

}  // namespace
}  // namespace hostlore
