#include "platform/network/samba_domain.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/network/own_processes.h"

namespace hostlore::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool RunQuietly(const std::string& command) {
  const int status = std::system(("(" + command + ") >/dev/null 2>&1").c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream(path) << text;
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
}

std::string& Reason() {
  static std::string reason;
  return reason;
}

}  // namespace

SambaDomain* SambaDomain::Shared(const std::string& registry) {
  static std::unique_ptr<SambaDomain> domain = [&]() -> std::unique_ptr<SambaDomain> {
    if (::geteuid() != 0) {
      Reason() = "a domain controller in a network namespace needs root";
      return nullptr;
    }
    for (const char* tool : {"/usr/sbin/samba", "/usr/bin/samba-tool", "/usr/bin/net",
                             "/usr/bin/kinit", "/usr/bin/unshare"}) {
      if (::access(tool, X_OK) != 0) {
        Reason() = std::string(tool) +
                   " is missing (install samba-ad-dc, samba-ad-provision, winbind, krb5-user)";
        return nullptr;
      }
    }
    std::unique_ptr<NamespacePair> pair = NamespacePair::Create(Reason());
    if (!pair) return nullptr;
    char pattern[] = "/tmp/hostlore-domain-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
      Reason() = "cannot make a folder for the domain";
      return nullptr;
    }
    auto made = std::make_unique<SambaDomain>(Key(), std::move(pair), fs::path(pattern));
    if (!made->Start(registry, Reason())) return nullptr;
    return made;
  }();
  return domain.get();
}

const std::string& SambaDomain::SkipReason() { return Reason(); }

SambaDomain::SambaDomain(Key, std::unique_ptr<NamespacePair> pair, fs::path folder)
    : pair_(std::move(pair)), folder_(std::move(folder)) {}

bool SambaDomain::Start(const std::string& registry, std::string& why_not) {
  const Clock::time_point began = Clock::now();
  const fs::path& d = folder_;
  const std::string address = this->address();
  for (const char* sub : {"run", "log"}) fs::create_directories(d / sub);
  WriteFile(d / "hosts", "127.0.0.1 localhost\n" + address + " dc1.lab.test dc1\n");
  WriteFile(d / "krb5.conf", std::string("[libdefaults]\n default_realm = ") + kRealm +
                                 "\n dns_lookup_kdc = false\n dns_lookup_realm = false\n"
                                 " rdns = false\n dns_canonicalize_hostname = false\n"
                                 "[realms]\n " + kRealm + " = {\n  kdc = " + address +
                                 "\n }\n[domain_realm]\n .lab.test = " + kRealm + "\n");
  // Only what the tests use: SMB (with winbindd, which smbd needs on a
  // controller), the RPC services and the KDC; no DNS, LDAP, replication.
  const std::string conf = (d / "etc" / "smb.conf").string();
  const std::vector<std::string> options = {
      "interfaces = " + address,     "bind interfaces only = yes",
      "smb ports = 445",             "disable netbios = yes",
      "server services = s3fs rpc kdc winbindd",
      "log file = " + (d / "log" / "%m.log").string(),
  };
  std::string provision = "samba-tool domain provision --targetdir=" + d.string() +
                          " --realm=" + kRealm + " --domain=" + kWorkgroup +
                          " --server-role=dc --dns-backend=NONE --host-name=dc1 --host-ip=" +
                          address + " --adminpass=" + kAdminPassword;
  for (const std::string& option : options) provision += " --option='" + option + "'";
  if (!RunQuietly(provision)) {
    why_not = "samba-tool domain provision failed";
    return false;
  }
  // The values the tests read, straight into the registry's database
  // before the controller starts (`net registry import` drops the values
  // of a last key that no blank line follows).
  WriteFile(d / "content.reg", registry + "\n\n");
  if (!registry.empty() &&
      !RunQuietly("net -s " + conf + " registry import " + (d / "content.reg").string())) {
    why_not = "cannot import the domain controller's registry values";
    return false;
  }

  samba_ = ::fork();
  if (samba_ == 0) {
    ::setsid();  // Samba's daemons signal their whole process group when they end
    const std::string log = (d / "log" / "samba.out").string();
    std::freopen(log.c_str(), "w", stdout);
    std::freopen(log.c_str(), "a", stderr);
    // Where the machine has no /run/samba, a private /run holds one.
    const std::string script =
        "if [ -d /run/samba ]; then mount --bind " + (d / "run").string() +
        " /run/samba; else mount -t tmpfs tmpfs /run && mkdir /run/samba; fi && mount --bind " +
        (d / "hosts").string() + " /etc/hosts && exec samba -s " + conf + " -i -M single";
    ::execlp("ip", "ip", "netns", "exec", pair_->peer_namespace().c_str(), "unshare", "-m", "sh",
             "-c", script.c_str(), static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  if (samba_ < 0) {
    why_not = "cannot start samba";
    return false;
  }
  // The KDC and SMB answer a few seconds after the start.
  const std::string listening = "ip netns exec " + pair_->peer_namespace() +
                                " ss -ltnH '( sport = :445 or sport = :88 )' | grep -c LISTEN |"
                                " grep -qx 2";
  while (Clock::now() - began < std::chrono::seconds(120)) {
    if (RunQuietly(listening)) {
      start_seconds_ = std::chrono::duration<double>(Clock::now() - began).count();
      return true;
    }
    if (::waitpid(samba_, nullptr, WNOHANG) == samba_) {
      samba_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  why_not = "the domain controller did not answer (see " + (d / "log").string() + ")";
  return false;
}

SambaDomain::~SambaDomain() {
  // samba, smbd, winbindd and samba-dcerpcd's helpers all name our folder.
  SignalProcessesMentioning(folder_.string(), SIGTERM);
  if (samba_ > 0) {
    for (int i = 0; i < 40 && ::waitpid(samba_, nullptr, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(samba_, SIGKILL);
    ::waitpid(samba_, nullptr, 0);
  }
  SignalProcessesMentioning(folder_.string(), SIGKILL);
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string SambaDomain::address() const { return FormatDottedAddress(kPeerAddress); }

std::string SambaDomain::krb5_config() const { return (folder_ / "krb5.conf").string(); }

std::string SambaDomain::HostsFile(const std::string& name, const std::string& lines) const {
  const fs::path path = folder_ / name;
  WriteFile(path, "127.0.0.1 localhost\n" + lines);
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read);
  return path.string();
}

bool SambaDomain::InClient(const std::string& hosts_file,
                           const std::function<void()>& work) const {
  std::vector<std::pair<std::string, std::string>> binds = {{hosts_file, "/etc/hosts"}};
  const fs::path client_run = folder_ / "client-run";
  fs::create_directories(client_run);
  if (fs::is_directory("/run/samba")) binds.emplace_back(client_run.string(), "/run/samba");
  return pair_->InClientWithBinds(binds, work);
}

bool SambaDomain::Kinit(const std::string& ccache) const {
  bool done = false;
  pair_->InClient([&] {
    // The password goes through a pipe, never onto a command line.
    FILE* kinit = ::popen(("KRB5_CONFIG='" + krb5_config() + "' kinit -c '" + ccache + "' " +
                           kAdminUser + "@" + kRealm + " >/dev/null 2>&1")
                              .c_str(),
                          "w");
    if (kinit == nullptr) return;
    std::fprintf(kinit, "%s\n", kAdminPassword);
    done = ::pclose(kinit) == 0;
  });
  return done;
}

std::string SambaDomain::AuthFile() const {
  const fs::path path = folder_ / "auth";
  WriteFile(path, std::string("username = ") + kAdminUser + "\npassword = " + kAdminPassword +
                      "\ndomain = " + kWorkgroup + "\n");
  return path.string();
}

}  // namespace hostlore::testing
