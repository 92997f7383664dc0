// The small rules the collectors lean on: megabyte rounding, value text,
// processor-name cleanup, the progress fractions, the sorted list.
#include <gtest/gtest.h>

#include "collect/remove_double_spaces.h"
#include "collect/software_inventory.h"
#include "collect/wmi_values.h"
#include "scan/work_lists.h"

namespace hostlore {
namespace {

TEST(MegabyteRoundingTest, RoundsHalvesAwayFromZeroAndRefusesZero) {
  constexpr double kMB = 1024.0 * 1024.0;
  EXPECT_EQ(RoundToMegabytes(1.5 * kMB, kMB).value(), 2);
  EXPECT_EQ(RoundToMegabytes(2.5 * kMB, kMB).value(), 3);
  EXPECT_EQ(RoundToMegabytes(10000000000.0, kMB).value(), 9537);
  EXPECT_EQ(RoundToMegabytes(2500000000.0, kMB).value(), 2384);
  EXPECT_FALSE(RoundToMegabytes(300 * 1024.0, kMB).ok());  // 0.29 MB rounds to 0
  EXPECT_EQ(RoundToMegabytes(512 * 1024.0, kMB).value(), 1);
  EXPECT_EQ(RoundToMegabytesInt(536330240, kMB).value(), 511);
  EXPECT_EQ(RoundToMegabytesInt(201328, 1024).value(), 197);
  EXPECT_EQ(RoundToMegabytesInt(9e18, 1024).status().number(), kOverflow);
}

TEST(WmiValueTest, TextAndNumbersAsTheFieldsNeedThem) {
  EXPECT_EQ(WmiText(WmiValue{std::string("Dell Inc.")}).value(), "Dell Inc.");
  EXPECT_EQ(WmiText(WmiValue{int64_t{2793}}).value(), "2793");
  EXPECT_EQ(WmiText(WmiValue{2.5}).value(), "2.5");
  EXPECT_FALSE(WmiText(WmiValue{}).ok());
  EXPECT_EQ(WmiNumber(WmiValue{std::string("536330240")}).value(), 536330240);
  EXPECT_EQ(WmiNumber(WmiValue{int64_t{2793}}).value(), 2793);
  EXPECT_EQ(WmiNumber(WmiValue{std::string("12abc")}).status().number(), kTypeMismatch);
  EXPECT_FALSE(WmiNumber(WmiValue{std::string()}).ok());
  EXPECT_FALSE(WmiNumber(WmiValue{}).ok());
}

TEST(RemoveDoubleSpacesTest, EvenRunsVanishOddRunsLeaveOne) {
  EXPECT_EQ(RemoveDoubleSpaces("Intel(R) Pentium(R) 4"), "Intel(R) Pentium(R) 4");
  EXPECT_EQ(RemoveDoubleSpaces("   Intel"), " Intel");
  EXPECT_EQ(RemoveDoubleSpaces("    Intel"), "Intel");
  EXPECT_EQ(RemoveDoubleSpaces("Intel  Pentium"), "IntelPentium");
  EXPECT_EQ(RemoveDoubleSpaces("Intel   Pentium"), "Intel Pentium");
  EXPECT_EQ(RemoveDoubleSpaces(" "), "");
  EXPECT_EQ(RemoveDoubleSpaces("   "), "");
  EXPECT_EQ(RemoveDoubleSpaces(""), "");
}

TEST(UninstallProgressTest, StepsAreFractionsOfFortyInShortestForm) {
  EXPECT_EQ(UninstallProgressSteps(4),
            (std::vector<std::string>{"63.3333333333333", "76.6666666666667", "90",
                                      "103.333333333333"}));
  EXPECT_EQ(UninstallProgressSteps(0), std::vector<std::string>{});
  // One subkey has no fraction to divide by: it climbs the whole way at once.
  EXPECT_EQ(UninstallProgressSteps(1), std::vector<std::string>{"90"});
  EXPECT_EQ(UninstallProgressSteps(2), (std::vector<std::string>{"90", "130"}));
  // Many subkeys: one line per whole point, never more.
  const size_t many = UninstallProgressSteps(401).size();
  EXPECT_GE(many, 39u);
  EXPECT_LE(many, 40u);
}

TEST(SortedListTest, KeepsCaseInsensitiveOrderAndArrivalOrderAmongEquals) {
  SortedList list;
  for (const char* entry : {"beta", "Alpha", "alpha", "ALPHA", "Gamma", "abc"}) list.Add(entry);
  EXPECT_EQ(list.entries(),
            (std::vector<std::string>{"abc", "Alpha", "alpha", "ALPHA", "beta", "Gamma"}));
}

}  // namespace
}  // namespace hostlore
