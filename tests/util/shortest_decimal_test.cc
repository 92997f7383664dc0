#include "util/shortest_decimal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/database/field_value.h"

namespace hostlore {
namespace {

TEST(FormatShortestDecimalTest, PlainFormWithAtMostFifteenDigits) {
  EXPECT_EQ(FormatShortestDecimal(2793), "2793");
  EXPECT_EQ(FormatShortestDecimal(2.5), "2.5");
  EXPECT_EQ(FormatShortestDecimal(154.0 / 3), "51.3333333333333");
  EXPECT_EQ(FormatShortestDecimal(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatShortestDecimal(-1250.75), "-1250.75");
  EXPECT_EQ(FormatShortestDecimal(0.00015), "0.00015");
  EXPECT_EQ(FormatShortestDecimal(1e20), "100000000000000000000");
  EXPECT_EQ(FormatShortestDecimal(123456789012345678.0), "123456789012346000");
  EXPECT_EQ(FormatShortestDecimal(-0.0), "0");
  EXPECT_EQ(FormatShortestDecimal(9.9999999999999999), "10");
  EXPECT_EQ(FormatShortestDecimal(std::numeric_limits<double>::quiet_NaN()), "NaN");
  EXPECT_EQ(FormatShortestDecimal(-INFINITY), "-Infinity");
}

TEST(FieldValueTest, TextAndNumberReadingsAndPins) {
  EXPECT_EQ(ValueAsText(FieldValue(2793.0)).value(), "2793");
  EXPECT_EQ(ValueAsText(FieldValue(int64_t{512})).value(), "512");
  EXPECT_FALSE(ValueAsText(FieldValue()).ok());
  EXPECT_EQ(ValueAsNumber(FieldValue(" 2000 ")).value(), 2000);
  EXPECT_EQ(ValueAsNumber(FieldValue("-1.5e3")).value(), -1500);
  EXPECT_EQ(ValueAsNumber(FieldValue("fast")).status().description(), "Type mismatch");
  EXPECT_FALSE(ValueAsNumber(FieldValue("")).ok());
  EXPECT_FALSE(ValueAsNumber(FieldValue("0x10")).ok());
  EXPECT_TRUE(IsPinned(FieldValue("^Kept")));
  EXPECT_FALSE(IsPinned(FieldValue("Kept^")));
  EXPECT_FALSE(IsPinned(FieldValue()));
  EXPECT_TRUE(IsNullOrEmpty(FieldValue("")));
  EXPECT_FALSE(IsNullOrEmpty(FieldValue(" ")));
  EXPECT_FALSE(IsNullOrEmpty(FieldValue(0.0)));
}

}  // namespace
}  // namespace hostlore
