// latency_ms: every remote call of every seam costs at least that long.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "platform/lab/lab_fixture.h"

namespace hostlore::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kLatency{30};

constexpr const char* kComputer = R"({
  "address": "192.0.2.42",
  "latency_ms": 30,
  "registry": {"HKLM\\Software\\X": {"V": "1"}},
  "services": ["Alerter"],
  "shares": {"C$": {"total": 2, "free": 1}},
  "wmi": {"Win32_BIOS": [{"Manufacturer": "Acme"}]}
})";

// Runs `call` and checks that it took at least the latency.
void ExpectSlow(const char* what, const std::function<bool()>& call) {
  const auto start = steady_clock::now();
  const bool ok = call();
  EXPECT_GE(steady_clock::now() - start, kLatency) << what;
  EXPECT_TRUE(ok) << what;
}

using LabLatencyTest = LabTest;

TEST_F(LabLatencyTest, EveryRemoteCallCostsTheLatency) {
  Platform lab = Lab(kComputer);
  const std::string host = "192.0.2.42";

  std::unique_ptr<RegistryKey> root, key;
  ExpectSlow("registry connect", [&] {
    auto r = lab.registry->Connect(host, Hive::kLocalMachine);
    if (r.ok()) root = std::move(r).value();
    return r.ok();
  });
  ASSERT_NE(root, nullptr);
  ExpectSlow("open key", [&] {
    auto r = root->OpenKey("Software\\X", reg::kAllSpecificRights);
    if (r.ok()) key = std::move(r).value();
    return r.ok();
  });
  ASSERT_NE(key, nullptr);
  ExpectSlow("query value", [&] { return key->QueryValue("V").ok(); });
  ExpectSlow("enum key", [&] { return root->EnumKey(0).ok(); });

  std::unique_ptr<ServiceControlManager> manager;
  ExpectSlow("services open", [&] {
    auto r = lab.services->Open(host);
    if (r.ok()) manager = std::move(r).value();
    return r.ok();
  });
  ASSERT_NE(manager, nullptr);
  ExpectSlow("services size", [&] { return manager->QuerySize().error == win32::kMoreData; });
  ExpectSlow("services list", [&] { return manager->ListDisplayNames(1000).ok(); });

  ExpectSlow("share space", [&] { return lab.shares->FreeSpace(host, "C$").ok(); });

  std::unique_ptr<WmiConnection> connection;
  std::unique_ptr<WmiObjectSet> set;
  std::unique_ptr<WmiObject> object;
  ExpectSlow("wmi connect", [&] {
    auto r = lab.wmi->Connect(host);
    if (r.ok()) connection = std::move(r).value();
    return r.ok();
  });
  ASSERT_NE(connection, nullptr);
  ExpectSlow("wmi query", [&] {
    auto r = connection->ExecQuery("Select * From Win32_BIOS");
    if (r.ok()) set = std::move(r).value();
    return r.ok();
  });
  ASSERT_NE(set, nullptr);
  ExpectSlow("wmi next", [&] {
    auto r = set->Next();
    if (r.ok()) object = std::move(r).value();
    return object != nullptr;
  });
  ASSERT_NE(object, nullptr);
  ExpectSlow("wmi get", [&] { return object->Get("Manufacturer").ok(); });
}

}  // namespace
}  // namespace hostlore::test
