#include "platform/network/kdc_realm.h"

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/free_port.h"

namespace hostlore::test {
namespace {

bool Answers(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool connected =
      ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

std::string Quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

}  // namespace

bool RunQuietly(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::unique_ptr<KdcRealm> KdcRealm::Start(std::string& why_not) {
  auto realm = std::make_unique<KdcRealm>(Key());
  if (!realm->SetUp(why_not)) return nullptr;
  return realm;
}

KdcRealm::~KdcRealm() {
  if (kdc_pid_ > 0) {
    ::kill(kdc_pid_, SIGTERM);
    ::waitpid(kdc_pid_, nullptr, 0);
  }
}

std::string KdcRealm::config() const { return (folder() / "krb5.conf").string(); }
std::string KdcRealm::service_keytab() const { return (folder() / "http.keytab").string(); }

bool KdcRealm::Kinit(const std::string& ccache, const std::string& lifetime) const {
  return RunQuietly("KRB5_CONFIG=" + Quoted(config()) + " kinit -l " + lifetime + " -k -t " +
                    Quoted(folder() / "alice.keytab") + " -c " + Quoted(ccache) + " alice@" +
                    kRealm);
}

bool KdcRealm::SetUp(std::string& why_not) {
  for (const char* tool : {"/usr/sbin/krb5kdc", "/usr/sbin/kdb5_util", "/usr/sbin/kadmin.local",
                           "/usr/bin/kinit"}) {
    if (::access(tool, X_OK) != 0) {
      why_not = std::string(tool) + " is missing (Debian krb5-kdc, krb5-admin-server, krb5-user)";
      return false;
    }
  }
  const int port = FreeLoopbackPort();
  if (port == 0) {
    why_not = "no free loopback port for the KDC";
    return false;
  }
  const std::string realm = kRealm;
  const std::string kdc = "127.0.0.1:" + std::to_string(port);
  folder_.Write("krb5.conf",
                "[libdefaults]\n default_realm = " + realm +
                    "\n dns_lookup_kdc = false\n dns_lookup_realm = false\n rdns = false\n"
                    " dns_canonicalize_hostname = false\n udp_preference_limit = 1\n"
                    " ignore_acceptor_hostname = true\n"
                    "[realms]\n " + realm + " = {\n  kdc = " + kdc + "\n }\n");
  const std::string dir = folder().string();
  folder_.Write("kdc.conf", "[kdcdefaults]\n kdc_ports = " + std::to_string(port) +
                                "\n kdc_tcp_ports = " + std::to_string(port) + "\n[realms]\n " +
                                realm + " = {\n  database_name = " + dir +
                                "/principal\n  key_stash_file = " + dir + "/stash\n  acl_file = " +
                                dir + "/kadm5.acl\n  max_life = 1h\n }\n[logging]\n kdc = FILE:" +
                                dir + "/kdc.log\n");
  folder_.Write("kadm5.acl", "");
  const std::string env = "KRB5_CONFIG=" + Quoted(folder() / "krb5.conf") +
                          " KRB5_KDC_PROFILE=" + Quoted(folder() / "kdc.conf") + " ";
  auto admin = [&](const std::string& query) {
    return RunQuietly(env + "kadmin.local -r " + realm + " -q \"" + query + "\"");
  };
  if (!RunQuietly(env + "kdb5_util create -s -r " + realm + " -P throwaway-master") ||
      !admin("addprinc -randkey HTTP/127.0.0.1") || !admin("addprinc -randkey HTTP/localhost") ||
      !admin("addprinc -randkey alice") ||
      !admin("ktadd -k " + dir + "/http.keytab HTTP/127.0.0.1 HTTP/localhost") ||
      !admin("ktadd -k " + dir + "/alice.keytab alice")) {
    why_not = "the realm's database could not be made (kdb5_util, kadmin.local)";
    return false;
  }

  kdc_pid_ = ::fork();
  if (kdc_pid_ == 0) {
    ::setenv("KRB5_CONFIG", (folder() / "krb5.conf").c_str(), 1);
    ::setenv("KRB5_KDC_PROFILE", (folder() / "kdc.conf").c_str(), 1);
    ::execl("/usr/sbin/krb5kdc", "krb5kdc", "-n", "-r", kRealm, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 100; ++i) {
    if (Answers(port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  why_not = "the KDC did not start listening on " + kdc;
  return false;
}

}  // namespace hostlore::test
