// The registry reader over the lab: text conversions by type, subkey
// enumeration, and the reader's own failure handler.
#include "collect/reg_reader.h"

#include <gtest/gtest.h>

#include "scan/scan_state.h"
#include "support/agent_fixture.h"
#include "util/utf16.h"

using namespace std::string_literals;

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;
constexpr const char* kHost = "192.0.2.42";
constexpr const char* kVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";

class RegReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    lab_.Write("pc.json", R"({
      "names": ["PC042"], "address": "192.0.2.42",
      "registry": {
        "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {
          "CurrentVersion": "5.1",
          "SystemRoot": {"type": "REG_EXPAND_SZ", "data": "abc"},
          "Tags": {"type": "REG_MULTI_SZ", "data": ["a", "b"]},
          "InstallDate": {"type": "REG_DWORD", "data": 1054200000},
          "Blob": {"type": "REG_BINARY", "data": "4142"},
          "Owner": "Zoë Müller"
        },
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Zeta": {"DisplayName": "Z"},
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\alpha": {},
        "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mid\\Deeper": {},
        "HKU\\.DEFAULT\\Control Panel\\International": {"iCountry": "49"}
      }})");
    Result<Platform> lab = MakeTestLab(lab_.path());
    ASSERT_TRUE(lab.ok()) << lab.status().description();
    state_.platform = std::move(lab).value();
    state_.TargetName = "PC042";
    state_.TargetAddress = kHost;
    state_.TempDir = temp_.path().string();
    state_.ProgressWindow = progress_.write_fd();
  }

  std::string Read(std::string_view key, std::string_view value, Hive hive = Hive::kLocalMachine) {
    return ReadRegValue(state_, kHost, hive, key, value, type_);
  }

  TempFolder lab_, temp_;
  ProgressCapture progress_;
  ScanState state_;
  int32_t type_ = -1;
};

TEST_F(RegReaderTest, ConvertsEachStringTypeAsTheCollectorsExpect) {
  EXPECT_EQ(Read(kVersionKey, "currentversion"), "5.1");  // names ignore case
  EXPECT_EQ(type_, 1);
  EXPECT_EQ(Read(kVersionKey, "SystemRoot"), "abc ");
  EXPECT_EQ(type_, 2);
  EXPECT_EQ(Read(kVersionKey, "Tags"), std::string("a b \0", 5));
  EXPECT_EQ(type_, 7);
  EXPECT_EQ(Read(kVersionKey, "Owner"), "Zoë Müller");
  EXPECT_EQ(Read("software\\MICROSOFT\\windows nt\\currentversion", "CurrentVersion"), "5.1");
  EXPECT_EQ(Read(".DEFAULT\\Control Panel\\International", "iCountry", Hive::kUsers), "49");
}

TEST_F(RegReaderTest, NonStringAndMissingValuesGiveEmptyTextWithTheirType) {
  EXPECT_EQ(Read(kVersionKey, "InstallDate"), "");
  EXPECT_EQ(type_, 4);
  EXPECT_EQ(Read(kVersionKey, "Blob"), "");
  EXPECT_EQ(type_, 3);
  EXPECT_EQ(Read(kVersionKey, "NoSuchValue"), "");
  EXPECT_EQ(type_, 0);
  EXPECT_EQ(Read("Software\\NoSuchKey", "CurrentVersion"), "");
  EXPECT_EQ(type_, 0);
  EXPECT_EQ(ReadRegValue(state_, "192.0.2.99", Hive::kLocalMachine, kVersionKey, "CurrentVersion",
                         type_),
            "");
  EXPECT_EQ(type_, 0);
  EXPECT_TRUE(progress_.Lines().empty());  // registry failures are not the reader's failures
}

TEST(RegistryValueTextTest, WalksNulsTheWayTheReaderAlwaysHas) {
  const auto value = [](uint32_t type, std::u16string units) {
    std::string bytes;
    for (char16_t u : units) {
      bytes += static_cast<char>(u & 0xFF);
      bytes += static_cast<char>(u >> 8);
    }
    return RegistryValueText(RegistryValue{type, bytes});
  };
  EXPECT_EQ(value(reg::kSz, u"ab\0cd\0"s), "ab");
  EXPECT_EQ(value(reg::kSz, u"no terminator"), "no terminator");
  // The character after a NUL is taken without looking at it, NUL or not.
  EXPECT_EQ(value(reg::kMultiSz, u"a\0\0b\0\0"s), std::string("a \0b \0", 6));
  EXPECT_EQ(value(reg::kExpandSz, u""), "");
  EXPECT_EQ(value(reg::kExpandSz, u"%SystemRoot%\\x\0"s), "%SystemRoot%\\x ");
  // A lone surrogate from the wire cannot produce invalid UTF-8.
  EXPECT_EQ(value(reg::kSz, u"\xD800z"), "\xEF\xBF\xBDz");
  EXPECT_EQ(TrimNull(std::string("abc\0def", 7)), "abc");
  EXPECT_EQ(TrimNull("abc"), "abc");
}

TEST_F(RegReaderTest, EnumeratesSubkeysInFileOrderAndAppends) {
  Lines list{"already"};
  EnumRegKeys(state_, kHost, Hive::kLocalMachine,
              "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", list);
  EXPECT_EQ(list, (Lines{"already", "Zeta", "alpha", "Mid"}));
}

TEST_F(RegReaderTest, KeysWithoutSubkeysOrThatDoNotExistAppendNothing) {
  Lines list{"x"};
  EnumRegKeys(state_, kHost, Hive::kLocalMachine,
              "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\alpha", list);
  EnumRegKeys(state_, kHost, Hive::kLocalMachine, "Software\\Nothing\\Here", list);
  EnumRegKeys(state_, "192.0.2.99", Hive::kLocalMachine, "Software", list);
  EXPECT_EQ(list, (Lines{"x"}));
}

// A registry whose every call throws, as a failing list operation would.
class ThrowingRegistry final : public RemoteRegistry {
 public:
  Result<std::unique_ptr<RegistryKey>> Connect(const std::string&, Hive) override {
    throw std::length_error("list overflow");
  }
};

TEST_F(RegReaderTest, AFailureInsideTheReaderIsLoggedAndTheRunGoesOn) {
  state_.platform.registry = std::make_unique<ThrowingRegistry>();
  EXPECT_EQ(Read(kVersionKey, "CurrentVersion"), "");
  Lines list;
  EnumRegKeys(state_, kHost, Hive::kLocalMachine, "Software", list);
  EXPECT_TRUE(list.empty());

  Lines log;
  for (const std::string& line : ReadCrLfLines(temp_.path() / "Kelvarn.log")) {
    log.push_back(line.substr(20));
  }
  EXPECT_EQ(log, (Lines{"Error listing software,PC042:list overflow",
                        "Error listing software,PC042:list overflow"}));
  EXPECT_EQ(progress_.Lines(),
            (Lines{"PC042,Complete,192.0.2.42,0", "PC042,Complete,192.0.2.42,0"}));
  EXPECT_TRUE(state_.FailureReported);
}

}  // namespace
}  // namespace hostlore::test
