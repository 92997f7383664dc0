// The SMB backends against Samba's smbd in a namespace of the test's own:
// registry values of each type, subkey order, the access check as an
// administrator and as a plain user, the service list, share sizes, a
// wrong password, and a peer that dies or stops answering mid-run; and the
// reason the access check gives for each refusal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <algorithm>
#include <functional>
#include <thread>

#include "collect/reg_reader.h"
#include "collect/service_list.h"
#include "probe/check_access.h"
#include "probe/registry_service.h"
#include "scan/process_end.h"
#include "platform/network/network_platform.h"
#include "platform/network/smb/smb_session.h"
#include "platform/network/smb/samba_peer.h"
#include "platform/network/tcp_relay.h"
#include "scan/scan_state.h"
#include "support/test_support.h"
#include "util/utf16.h"

namespace hostlore::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";

const char kRegistry[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hostlore\\Values]\n"
    "\"Text\"=\"plain text\"\n"
    "\"Expand\"=hex(2):25,00,53,00,52,00,25,00,00,00\n"
    "\"Multi\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\n"
    "\"Number\"=dword:0000002a\n"
    "\"Blob\"=hex:01,02,ff\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hostlore\\Order\\Zulu]\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hostlore\\Order\\Alpha]\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hostlore\\Order\\Mike]\n\n"
    "[HKEY_USERS\\.DEFAULT\\Control Panel\\International]\n"
    "\"iCountry\"=\"49\"\n";

// Keys that a walk reads ahead: every one has Name, all but two Version,
// one has Extra, and one a Version of a quite different length.
std::string ProgramKeys() {
  std::string reg;
  for (int i = 0; i < 25; ++i) {
    const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
    reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hostlore\\Programs\\P" + n + "]\n";
    reg += "\"Name\"=\"Program " + n + "\"\n";
    if (i != 5 && i != 17) {
      reg += "\"Version\"=\"" + (i == 20 ? std::string(3000, 'v') : "1." + n) + "\"\n";
    }
    if (i == 10) reg += "\"Extra\"=dword:00000007\n";
    reg += "\n";
  }
  return reg;
}

SambaPeerContent Content() {
  SambaPeerContent content;
  content.registry = std::string(kRegistry) + "\n" + ProgramKeys();
  content.services = {"hlsvc1", "hlsvc2"};
  content.c_blocks = 1000000;
  content.c_free_blocks = 250000;
  content.d_blocks = 2000;
  content.d_free_blocks = 2000;
  return content;
}

std::string Units(std::string_view utf8) { return Utf8ToUtf16LeBytes(utf8); }

// The access check's log line for `state`'s target, without its time
// stamp; empty when the check passed.
std::string AccessLine(ScanState& state) {
  try {
    CheckAccess(state);
    return "";
  } catch (const ProcessEnd&) {
  }
  const std::vector<std::string> log =
      test::ReadCrLfLines(std::filesystem::path(state.TempDir) / "Kelvarn.log");
  return log.empty() ? "(no log line)" : log.back().substr(20);
}

constexpr const char* kAccessLine = "Insufficient access or error accessing PC ,PEER:";

// A scan state on the network platform for the peer, with the credentials
// of `auth_file`. Its platform must be used from the client namespace.
class SmbBackendTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string why_not;
    peer_ = SambaPeer::Start(Content(), why_not).release();
    skip_reason_ = new std::string(why_not);
  }
  static void TearDownTestSuite() {
    delete peer_;
    peer_ = nullptr;
    delete skip_reason_;
  }

  void SetUp() override {
    if (peer_ == nullptr) GTEST_SKIP() << *skip_reason_;
    ASSERT_TRUE(peer_->namespaces().LeavesThroughOwnVeth(kPeerAddress));
  }
  void TearDown() override { ::unsetenv("HOSTLORE_AUTH_FILE"); }

  // Runs `work` in the client namespace with a fresh scan state whose
  // network platform presents `user`'s credentials.
  void AsUser(const std::string& user, const std::string& password,
              const std::function<void(ScanState&)>& work) {
    ::setenv("HOSTLORE_AUTH_FILE", peer_->AuthFile(user, password).c_str(), 1);
    ASSERT_TRUE(peer_->namespaces().InClient([&] {
      ScanState state;
      state.platform = MakeNetworkPlatform();
      state.TargetAddress = peer_->address();
      state.TargetName = "PEER";
      state.TempDir = temp_.path().string();
      work(state);
    }));
  }
  void AsAdmin(const std::function<void(ScanState&)>& work) {
    AsUser(kAdminUser, kAdminPassword, work);
  }

  static SambaPeer* peer_;
  static std::string* skip_reason_;
  test::TempFolder temp_;
};

SambaPeer* SmbBackendTest::peer_ = nullptr;
std::string* SmbBackendTest::skip_reason_ = nullptr;

TEST_F(SmbBackendTest, ValuesComeRawWithTheirTypesAndAMissingOneIsNotFound) {
  AsAdmin([&](ScanState& state) {
    auto root = state.platform.registry->Connect(peer_->address(), Hive::kLocalMachine);
    ASSERT_TRUE(root.ok()) << root.status().description();
    auto key = root.value()->OpenKey("software\\hostlore\\values", reg::kAllSpecificRights);
    ASSERT_TRUE(key.ok()) << key.status().description();
    RegistryKey& k = *key.value();

    const Result<RegistryValue> text = k.QueryValue("TEXT");
    ASSERT_TRUE(text.ok());
    EXPECT_EQ(text->type, reg::kSz);
    EXPECT_EQ(text->data, Units("plain text") + std::string(2, '\0'));
    EXPECT_EQ(k.QueryValue("Expand")->type, reg::kExpandSz);
    EXPECT_EQ(k.QueryValue("Expand")->data, Units("%SR%") + std::string(2, '\0'));
    EXPECT_EQ(k.QueryValue("Multi")->type, reg::kMultiSz);
    EXPECT_EQ(k.QueryValue("Multi")->data, Units("a") + std::string(2, '\0') + Units("bc") +
                                              std::string(4, '\0'));
    EXPECT_EQ(k.QueryValue("Number")->type, reg::kDword);
    EXPECT_EQ(k.QueryValue("Number")->data, std::string("\x2a\0\0\0", 4));
    EXPECT_EQ(k.QueryValue("Blob")->type, reg::kBinary);
    EXPECT_EQ(k.QueryValue("Blob")->data, "\x01\x02\xff");
    EXPECT_EQ(k.QueryValue("Absent").status().number(), win32::kFileNotFound);
    EXPECT_EQ(root.value()->OpenKey("Software\\Hostlore\\Nowhere", 0x3F).status().number(),
              win32::kFileNotFound);

    int32_t type = -1;
    EXPECT_EQ(ReadRegValue(state, peer_->address(), Hive::kLocalMachine,
                           "Software\\Hostlore\\Values", "Multi", type),
              std::string("a bc \0", 6));  // the walk copies the final NUL
    EXPECT_EQ(type, 7);
    EXPECT_EQ(ReadRegValue(state, peer_->address(), Hive::kLocalMachine,
                           "Software\\Hostlore\\Values", "Number", type),
              "");
    EXPECT_EQ(type, 4);
    EXPECT_EQ(ReadRegValue(state, peer_->address(), Hive::kLocalMachine,
                           "Software\\Hostlore\\Values", "Absent", type),
              "");
    EXPECT_EQ(type, 0);
  });
}

TEST_F(SmbBackendTest, SubkeysComeInCreationOrderAndHkuIsReadable) {
  AsAdmin([&](ScanState& state) {
    std::vector<std::string> subkeys;
    EnumRegKeys(state, peer_->address(), Hive::kLocalMachine, "Software\\Hostlore\\Order",
                subkeys);
    EXPECT_EQ(subkeys, (std::vector<std::string>{"Zulu", "Alpha", "Mike"}));

    std::vector<std::string> users;
    EnumRegKeys(state, peer_->address(), Hive::kUsers, "", users);
    EXPECT_NE(std::find(users.begin(), users.end(), ".DEFAULT"), users.end());
    int32_t type = 0;
    EXPECT_EQ(ReadRegValue(state, peer_->address(), Hive::kUsers,
                           ".DEFAULT\\Control Panel\\International", "iCountry", type),
              "49");
  });
}

TEST_F(SmbBackendTest, AWalkOfListedKeysReadsWhatSingleReadsWould) {
  // The collectors' way: list the subkeys, then open each and read its
  // values one by one. Keys and values are fetched ahead in batches; every
  // answer must still be the key's own, missing values included.
  AsAdmin([&](ScanState& state) {
    std::vector<std::string> programs;
    EnumRegKeys(state, peer_->address(), Hive::kLocalMachine, "Software\\Hostlore\\Programs",
                programs);
    ASSERT_EQ(programs.size(), 25u);
    for (int round = 0; round < 2; ++round) {
      for (size_t i = 0; i < programs.size(); ++i) {
        const std::string n = programs[i].substr(1);
        const std::string key = "Software\\Hostlore\\Programs\\" + programs[i];
        auto read = [&](const char* name) {
          auto root = state.platform.registry->Connect(peer_->address(), Hive::kLocalMachine);
          EXPECT_TRUE(root.ok());
          auto opened = root.value()->OpenKey(key, reg::kAllSpecificRights);
          EXPECT_TRUE(opened.ok()) << key;
          return opened.ok() ? opened.value()->QueryValue(name)
                             : Result<RegistryValue>(opened.status());
        };
        const Result<RegistryValue> name = read("Name");
        ASSERT_TRUE(name.ok()) << key;
        EXPECT_EQ(name->data, Units("Program " + n) + std::string(2, '\0'));
        const Result<RegistryValue> version = read("Version");
        if (i == 5 || i == 17) {
          EXPECT_EQ(version.status().number(), win32::kFileNotFound) << key;
        } else {
          ASSERT_TRUE(version.ok()) << key;
          EXPECT_EQ(version->data,
                    Units(i == 20 ? std::string(3000, 'v') : "1." + n) + std::string(2, '\0'));
        }
        const Result<RegistryValue> extra = read("Extra");
        if (i == 10) {
          ASSERT_TRUE(extra.ok());
          EXPECT_EQ(extra->data, std::string("\x07\0\0\0", 4));
        } else {
          EXPECT_EQ(extra.status().number(), win32::kFileNotFound) << key;
        }
      }
    }
  });
}

TEST_F(SmbBackendTest, AccessCheckPassesForTheAdministratorOnly) {
  int32_t type = 0;
  AsAdmin([&](ScanState& state) {
    EXPECT_EQ(ReadRegValue(state, peer_->address(), Hive::kLocalMachine, kVersionKey,
                           "currentversion", type),
              "6.1");
  });
  AsUser(kPlainUser, kPlainPassword, [&](ScanState& state) {
    auto root = state.platform.registry->Connect(peer_->address(), Hive::kLocalMachine);
    ASSERT_TRUE(root.ok()) << root.status().description();
    EXPECT_EQ(root.value()->OpenKey(kVersionKey, reg::kAllSpecificRights).status().number(),
              win32::kAccessDenied);
    EXPECT_TRUE(root.value()->OpenKey(kVersionKey, reg::kEnumerateSubKeys).ok());
    EXPECT_EQ(ReadRegValue(state, peer_->address(), Hive::kLocalMachine, kVersionKey,
                           "currentversion", type),
              "");
    EXPECT_EQ(AccessLine(state), std::string(kAccessLine) +
                                     "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion: access to "
                                     "more than reading is denied: the account is not an "
                                     "administrator of the target");
  });
}

TEST_F(SmbBackendTest, TheNetbiosPortIsNeverTried) {
  // Something holds port 139 and never answers, as a firewall that
  // swallows it would: every connection goes straight to SMB on port 445,
  // so no connection ever waits there.
  int listener = -1;
  std::thread([&] {
    const int netns = ::open(("/run/netns/" + peer_->namespaces().peer_namespace()).c_str(),
                             O_RDONLY | O_CLOEXEC);
    if (netns >= 0 && ::setns(netns, CLONE_NEWNET) == 0) listener = ListenOn(kPeerAddress, 139);
    if (netns >= 0) ::close(netns);
  }).join();
  ASSERT_GE(listener, 0);
  AsAdmin([&](ScanState& state) {
    int32_t type = 0;
    EXPECT_EQ(ReadRegValue(state, peer_->address(), Hive::kLocalMachine, kVersionKey,
                           "currentversion", type),
              "6.1");
    EXPECT_TRUE(state.platform.shares->FreeSpace(peer_->address(), "C$").ok());
  });
  pollfd waiting{listener, POLLIN, 0};
  EXPECT_EQ(::poll(&waiting, 1, 0), 0) << "a connection came to port 139";
  ::close(listener);
}

TEST_F(SmbBackendTest, ServiceListNamesEveryServiceInEnumerationOrder) {
  AsAdmin([&](ScanState& state) {
    ListServices(state, ServiceReport::kLog);
    EXPECT_EQ(state.ServicesList.rfind("hlsvc1^hlsvc2^", 0), 0u) << state.ServicesList;
    EXPECT_NE(state.ServicesList.find("^Remote Registry Service"), std::string::npos);
    EXPECT_NE(state.ServicesList.back(), '^');

    auto manager = state.platform.services->Open(peer_->address());
    ASSERT_TRUE(manager.ok());
    const ServiceSizeQuery size = manager.value()->QuerySize();
    EXPECT_EQ(size.error, win32::kMoreData);
    // Too small a buffer is refused with "more data", as on Windows.
    EXPECT_EQ(manager.value()->ListDisplayNames(36).status().number(), win32::kMoreData);
  });
}

// Samba's own RemoteRegistry service always runs and may not be started,
// stopped or reconfigured: a real server's answers to every service call
// the agent makes, and what a restore it refuses leaves behind.
TEST_F(SmbBackendTest, SambasServiceManagerAnswersEveryServiceCall) {
  AsAdmin([&](ScanState& state) {
    constexpr uint32_t kAll = svc::kQueryStatus | svc::kQueryConfig | svc::kChangeConfig |
                              svc::kStart | svc::kStop;
    ServiceManager& services = *state.platform.services;
    EXPECT_EQ(services.OpenService(peer_->address(), "NoSuchService", kAll).status().number(),
              win32::kServiceDoesNotExist);
    Result<std::unique_ptr<Service>> service = services.OpenService(peer_->address(), "RemoteRegistry", kAll);
    ASSERT_TRUE(service.ok()) << service.status().description();
    EXPECT_EQ(service.value()->QueryState().value(), svc::kRunning);
    EXPECT_EQ(service.value()->QueryStartType().value(), svc::kDemandStart);
    EXPECT_EQ(service.value()->Start().number(), win32::kAccessDenied);
    EXPECT_FALSE(service.value()->ChangeStartType(svc::kDisabled).ok());  // not supported: a fault
    EXPECT_EQ(service.value()->QueryState().value(), svc::kRunning);  // the channel still serves

    test::FixedClock clock(0);
    const Status restored = RestoreRegistryService(
        *services.Independent(), clock, {peer_->address(), true, svc::kDisabled, svc::kDemandStart, true});
    EXPECT_EQ(restored.description().rfind("RemoteRegistry left running (it was stopped) and left on demand "
                                           "(it was disabled): ControlService: error 5 (access denied); ",
                                           0),
              0u)
        << restored.description();
  });
}

TEST_F(SmbBackendTest, SharesReportTheirVolumeAndAnAbsentShareFails) {
  AsAdmin([&](ScanState& state) {
    Result<DiskSpace> c = state.platform.shares->FreeSpace(peer_->address(), "C$");
    ASSERT_TRUE(c.ok()) << c.status().description();
    EXPECT_EQ(c->total, 1000000ull * 1024);
    EXPECT_EQ(c->total_free, 250000ull * 1024);
    Result<DiskSpace> d = state.platform.shares->FreeSpace(peer_->address(), "d$");
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d->total, 2000ull * 1024);
    Result<DiskSpace> e = state.platform.shares->FreeSpace(peer_->address(), "e$");
    EXPECT_FALSE(e.ok());
    EXPECT_EQ(e.status().number(), kBadNetName);
  });
}

TEST_F(SmbBackendTest, AWrongPasswordGivesEmptyValuesAndNoServices) {
  AsUser(kAdminUser, "not-the-password", [&](ScanState& state) {
    int32_t type = -1;
    EXPECT_EQ(ReadRegValue(state, peer_->address(), Hive::kLocalMachine, kVersionKey,
                           "currentversion", type),
              "");
    EXPECT_EQ(type, 0);
    auto root = state.platform.registry->Connect(peer_->address(), Hive::kLocalMachine);
    EXPECT_EQ(root.status().number(), win32::kAccessDenied);
    EXPECT_EQ(root.status().description().find("not-the-password"), std::string::npos);
    ListServices(state, ServiceReport::kLog);
    EXPECT_EQ(state.ServicesList, "");
    EXPECT_FALSE(state.platform.shares->FreeSpace(peer_->address(), "C$").ok());
    EXPECT_EQ(AccessLine(state), std::string(kAccessLine) + peer_->address() +
                                     ": logon refused for PEER\\inv: wrong password or unknown user");
  });
}



TEST_F(SmbBackendTest, AnAuthFileOthersMayReadIsRefused) {
  const std::string path = peer_->AuthFile(kAdminUser, kAdminPassword);
  std::filesystem::permissions(path, std::filesystem::perms::others_read,
                               std::filesystem::perm_options::add);
  ::setenv("HOSTLORE_AUTH_FILE", path.c_str(), 1);
  ScanState state;
  state.platform = MakeNetworkPlatform();
  state.TargetName = "PEER";
  state.TargetAddress = peer_->address();
  state.TempDir = temp_.path().string();
  EXPECT_EQ(AccessLine(state), std::string(kAccessLine) + "HOSTLORE_AUTH_FILE " + path +
                                   ": readable by group or others; allow the owner only (chmod 600)");
}

TEST(SmbProtocolTest, ARefusedPortSaysSo) {
  // Nothing listens on port 445 of the client's own address: as a
  // computer whose server is down.
  std::string why_not;
  std::unique_ptr<NamespacePair> pair = NamespacePair::Create(why_not);
  if (!pair) GTEST_SKIP() << why_not;
  test::TempFolder temp;
  test::ScopedEnv auth("HOSTLORE_AUTH_FILE", temp.Write("auth", "username = inv\npassword = x\n").string());
  std::filesystem::permissions(temp.path() / "auth", std::filesystem::perms::owner_read);
  ASSERT_TRUE(pair->InClient([&] {
    ScanState state;
    state.platform = MakeNetworkPlatform();
    state.TargetName = "PEER";
    state.TargetAddress = FormatDottedAddress(kClientAddress);
    state.TempDir = temp.path().string();
    EXPECT_EQ(AccessLine(state), std::string(kAccessLine) + state.TargetAddress +
                                     ": connection refused: nothing listens on the SMB port 445 "
                                     "(file sharing off, or a firewall)");
  }));
}

TEST(SmbProtocolTest, AServerOfSmb1OnlySaysSo) {
  SambaPeerContent content;
  content.smb1_only = true;
  std::string why_not;
  std::unique_ptr<SambaPeer> peer = SambaPeer::Start(content, why_not);
  if (!peer) GTEST_SKIP() << why_not;
  test::TempFolder temp;
  test::ScopedEnv auth("HOSTLORE_AUTH_FILE", peer->AuthFile(kAdminUser, kAdminPassword));
  ASSERT_TRUE(peer->namespaces().InClient([&] {
    ScanState state;
    state.platform = MakeNetworkPlatform();
    state.TargetName = "PEER";
    state.TargetAddress = peer->address();
    state.TempDir = temp.path().string();
    EXPECT_EQ(AccessLine(state), std::string(kAccessLine) + peer->address() +
                                     ": the server offers no SMB2 or SMB3, only SMB1, which "
                                     "Hostlore does not use");
  }));
}

// A peer of its own, since these end it.
class SmbPeerLossTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why_not;
    peer_ = SambaPeer::Start(Content(), why_not);
    if (!peer_) GTEST_SKIP() << why_not;
    ::setenv("HOSTLORE_AUTH_FILE", peer_->AuthFile(kAdminUser, kAdminPassword).c_str(), 1);
  }
  void TearDown() override { ::unsetenv("HOSTLORE_AUTH_FILE"); }

  // Reads values, calls `lose` mid-run, reads on: every later read is empty
  // and the reads after the first failure cost nothing.
  void ReadAcross(const std::function<void()>& lose, Clock::duration first_failure_bound) {
    test::TempFolder temp;
    ASSERT_TRUE(peer_->namespaces().InClient([&] {
      ScanState state;
      state.platform = MakeNetworkPlatform();
      state.TempDir = temp.path().string();
      int32_t type = 0;
      const auto read = [&] {
        return ReadRegValue(state, peer_->address(), Hive::kLocalMachine,
                            "Software\\Hostlore\\Values", "Text", type);
      };
      ASSERT_EQ(read(), "plain text");
      lose();
      const auto lost_at = Clock::now();
      EXPECT_EQ(read(), "");
      EXPECT_LT(Clock::now() - lost_at, first_failure_bound);
      EXPECT_FALSE(state.platform.registry->Connect(peer_->address(), Hive::kLocalMachine).ok());
      const auto after = Clock::now();
      for (int i = 0; i < 20; ++i) EXPECT_EQ(read(), "");
      std::vector<std::string> subkeys;
      EnumRegKeys(state, peer_->address(), Hive::kLocalMachine, "Software\\Hostlore\\Order",
                  subkeys);
      EXPECT_TRUE(subkeys.empty());
      ListServices(state, ServiceReport::kLog);
      EXPECT_EQ(state.ServicesList, "");
      EXPECT_LT(Clock::now() - after, std::chrono::seconds(1));
    }));
  }

  std::unique_ptr<SambaPeer> peer_;
};

TEST_F(SmbPeerLossTest, APeerKilledMidRunEndsReadsAtOnce) {
  ReadAcross([&] { peer_->Kill(); }, std::chrono::seconds(2));
}

TEST_F(SmbPeerLossTest, APeerThatStopsAnsweringCostsOneBoundedWait) {
  // Frozen, not dead: the connection stays up and nothing answers, so the
  // read waits out the request time-out once.
  ReadAcross([&] { peer_->Freeze(); }, std::chrono::milliseconds(kSmbRequestTimeoutMs + 2000));
}

}  // namespace
}  // namespace hostlore::testing
