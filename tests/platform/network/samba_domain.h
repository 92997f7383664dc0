// A Samba Active Directory domain controller for the tests: the domain
// LAB.TEST, its controller dc1.lab.test at kPeerAddress in the peer
// namespace of a NamespacePair of its own, with its KDC, SMB and registry.
//
// Provisioning a domain costs seconds, so one is made per test program
// (Shared()) and every test that needs a domain uses it. The controller
// runs in a private mount namespace: its own folder over /run/samba (where
// smbd insists on finding winbindd's socket) and the fixture's hosts file
// over /etc/hosts. The machine's own files are never changed.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/network/namespace_pair.h"

namespace hostlore::testing {

class SambaDomain {
  class Key {
    friend class SambaDomain;
    Key() = default;
  };

 public:
  static constexpr const char* kRealm = "LAB.TEST";
  static constexpr const char* kWorkgroup = "LAB";
  static constexpr const char* kControllerName = "dc1.lab.test";
  // The domain's administrator, a member of Domain Admins.
  static constexpr const char* kAdminUser = "Administrator";
  static constexpr const char* kAdminPassword = "Hl-Domain-Secret-1";

  // The program's domain controller, started on first use with the values
  // of `registry` (REGEDIT5 text) in its registry; nullptr when it cannot
  // run here (SkipReason() says why). Later calls return the same one,
  // whatever `registry` they name.
  static SambaDomain* Shared(const std::string& registry);
  static const std::string& SkipReason();

  SambaDomain(Key, std::unique_ptr<NamespacePair> pair, std::filesystem::path folder);
  SambaDomain(const SambaDomain&) = delete;
  SambaDomain& operator=(const SambaDomain&) = delete;
  ~SambaDomain();

  std::string address() const;
  const NamespacePair& namespaces() const { return *pair_; }
  // A krb5.conf for the realm (for KRB5_CONFIG).
  std::string krb5_config() const;
  // Writes a hosts file `name` in the fixture's folder with `lines` after
  // localhost's; returns its path.
  std::string HostsFile(const std::string& name, const std::string& lines) const;
  // Runs `work` in the client namespace with `hosts_file` over /etc/hosts
  // and a folder of its own over /run/samba: libsmbclient keeps a cache of
  // resolved names there, which would otherwise outlive the test and
  // resolve names of other tests (and the machine's) from it.
  bool InClient(const std::string& hosts_file, const std::function<void()>& work) const;
  // Gets the administrator's ticket into the cache file `ccache`, from the
  // client namespace. False when kinit fails.
  bool Kinit(const std::string& ccache) const;
  // An authentication file (mode 0600) for the administrator (NTLM).
  std::string AuthFile() const;
  // Seconds from the start of provisioning to a controller that answers.
  double start_seconds() const { return start_seconds_; }

 private:
  bool Start(const std::string& registry, std::string& why_not);

  std::unique_ptr<NamespacePair> pair_;
  std::filesystem::path folder_;
  pid_t samba_ = -1;
  double start_seconds_ = 0;
};

}  // namespace hostlore::testing
