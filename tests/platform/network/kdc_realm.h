// A throwaway MIT Kerberos realm for the tests: its own configuration,
// database and KDC on a free loopback port, service keys for
// HTTP/127.0.0.1 and HTTP/localhost, and a user "alice" whose key lets
// kinit run without a password. Everything lives in a temporary folder that goes with it.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "support/test_support.h"

namespace hostlore::test {

class KdcRealm {
  class Key {
    friend class KdcRealm;
    Key() = default;
  };

 public:
  static constexpr const char* kRealm = "HOSTLORE.TEST";

  // nullptr with `why_not` filled when the KDC cannot run here (tools
  // missing, no free port, the KDC does not answer).
  static std::unique_ptr<KdcRealm> Start(std::string& why_not);

  explicit KdcRealm(Key) {}
  KdcRealm(const KdcRealm&) = delete;
  KdcRealm& operator=(const KdcRealm&) = delete;
  ~KdcRealm();

  // The krb5.conf of the realm (for KRB5_CONFIG).
  std::string config() const;
  // The keytab of the HTTP services (for the service's KRB5_KTNAME).
  std::string service_keytab() const;
  // Gets alice's ticket into the cache file `ccache`, valid for `lifetime`
  // (a kinit duration such as "10m" or "1s"). False when kinit fails.
  bool Kinit(const std::string& ccache, const std::string& lifetime) const;

  const std::filesystem::path& folder() const { return folder_.path(); }

 private:
  bool SetUp(std::string& why_not);

  TempFolder folder_;
  int kdc_pid_ = -1;
};

// Runs `command` through the shell, its output discarded; true on exit 0.
bool RunQuietly(const std::string& command);

}  // namespace hostlore::test
