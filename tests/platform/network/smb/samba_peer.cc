#include "platform/network/smb/samba_peer.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/echo/echo.h"
#include "platform/network/own_processes.h"

namespace hostlore::testing {
namespace {

namespace fs = std::filesystem;

bool RunQuietly(const std::string& command) {
  const int status = std::system(("(" + command + ") >/dev/null 2>&1").c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void WriteFile(const fs::path& path, const std::string& text, fs::perms perms) {
  std::ofstream(path) << text;
  fs::permissions(path, perms);
}

std::string SmbConf(const fs::path& dir, const SambaPeerContent& content) {
  std::ostringstream c;
  const std::string d = dir.string();
  c << "[global]\n"
    << "  server role = standalone server\n  workgroup = HLTEST\n  netbios name = PEER\n"
    << "  interfaces = " << FormatDottedAddress(kPeerAddress) << "\n"
    << "  bind interfaces only = yes\n  disable netbios = yes\n  smb ports = 445\n"
    << "  load printers = no\n  disable spoolss = yes\n  printcap name = /dev/null\n"
    << "  state directory = " << d << "/state\n  cache directory = " << d << "/cache\n"
    << "  lock directory = " << d << "/lock\n  pid directory = " << d << "/pid\n"
    << "  private dir = " << d << "/private\n  ncalrpc dir = " << d << "/ncalrpc\n"
    << "  binddns dir = " << d << "/bind-dns\n"
    << "  log file = " << d << "/log/%m.log\n  max log size = 1000\n"
    << "  passdb backend = tdbsam:" << d << "/private/passdb.tdb\n"
    << "  registry shares = no\n";
  if (content.smb1_only) c << "  server min protocol = NT1\n  server max protocol = NT1\n";
  if (!content.services.empty()) {
    c << "  svcctl list =";
    for (const std::string& s : content.services) c << " " << s;
    c << "\n";
  }
  c << "[C$]\n  path = " << d << "/c\n  dfree command = " << d << "/dfree-c\n"
    << "[d$]\n  path = " << d << "/d\n  dfree command = " << d << "/dfree-d\n";
  if (content.admin_share) {
    c << "[ADMIN$]\n  path = " << d << "/windows\n  read only = no\n  admin users = "
      << kAdminUser << "\n";
  }
  return c.str();
}

}  // namespace

SambaPeer::SambaPeer(std::unique_ptr<NamespacePair> pair, fs::path folder)
    : pair_(std::move(pair)), folder_(std::move(folder)) {}

std::unique_ptr<SambaPeer> SambaPeer::Start(const SambaPeerContent& content,
                                            std::string& why_not) {
  if (::geteuid() != 0) {
    why_not = "running smbd as a test peer needs root";
    return nullptr;
  }
  for (const char* tool : {"/usr/sbin/smbd", "/usr/bin/net", "/usr/bin/smbpasswd"}) {
    if (::access(tool, X_OK) != 0) {
      why_not = std::string(tool) + " is missing (install samba and smbclient)";
      return nullptr;
    }
  }
  std::unique_ptr<NamespacePair> pair = NamespacePair::Create(why_not);
  if (!pair) return nullptr;
  char pattern[] = "/tmp/hostlore-samba-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) {
    why_not = "cannot make a folder for smbd";
    return nullptr;
  }
  auto peer = std::make_unique<SambaPeer>(std::move(pair), fs::path(pattern));
  if (!peer->Launch(content, why_not)) return nullptr;
  return peer;
}

bool SambaPeer::Launch(const SambaPeerContent& content, std::string& why_not) {
  peer_namespace_ = pair_->peer_namespace();
  if (peer_namespace_.empty()) {
    why_not = "cannot find the peer namespace of the test's pair";
    return false;
  }
  const fs::path& d = folder_;
  for (const char* sub : {"state", "cache", "lock", "pid", "private", "ncalrpc", "bind-dns", "log",
                          "c", "d", "windows/Temp"}) {
    fs::create_directories(d / sub);
  }
  fs::permissions(d, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  // smbd runs the dfree scripts as the connected user.
  const auto script = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                      fs::perms::others_read | fs::perms::others_exec;
  WriteFile(d / "dfree-c",
            "#!/bin/sh\necho " + std::to_string(content.c_blocks) + " " +
                std::to_string(content.c_free_blocks) + " 1024\n",
            script);
  WriteFile(d / "dfree-d",
            "#!/bin/sh\necho " + std::to_string(content.d_blocks) + " " +
                std::to_string(content.d_free_blocks) + " 1024\n",
            script);
  const std::string conf = (d / "smb.conf").string();
  WriteFile(conf, SmbConf(d, content), fs::perms::owner_read | fs::perms::owner_write);
  // `net registry import` drops the values of a last key that no blank
  // line follows.
  WriteFile(d / "content.reg", content.registry + "\n\n",
            fs::perms::owner_read | fs::perms::owner_write);

  const std::string net = "net -s " + conf + " ";
  std::vector<std::string> commands = {
      "getent group invadmins || groupadd invadmins",
      std::string("id ") + kAdminUser + " || useradd -M -G invadmins " + kAdminUser,
      std::string("id -nG ") + kAdminUser + " | grep -qw invadmins || usermod -aG invadmins " +
          kAdminUser,
      std::string("id ") + kPlainUser + " || useradd -M " + kPlainUser,
      std::string("printf '") + kAdminPassword + "\\n" + kAdminPassword +
          "\\n' | smbpasswd -c " + conf + " -s -a " + kAdminUser,
      std::string("printf '") + kPlainPassword + "\\n" + kPlainPassword +
          "\\n' | smbpasswd -c " + conf + " -s -a " + kPlainUser,
      net + "groupmap add sid=S-1-5-32-544 unixgroup=invadmins type=builtin",
      net + "sam addmem 'BUILTIN\\Administrators' " + kAdminUser,
  };
  if (!content.registry.empty()) {
    commands.push_back(net + "registry import " + (d / "content.reg").string());
  }
  for (const std::string& command : commands) {
    // The accounts are the machine's: a test running alongside may be
    // adding them at the same moment, so a failure is tried again.
    bool done = false;
    for (int attempt = 0; attempt < 5 && !done; ++attempt) {
      if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
      done = RunQuietly(command);
    }
    if (!done) {
      why_not = "preparing the Samba peer failed: `" + command + "`";
      return false;
    }
  }

  smbd_ = ::fork();
  if (smbd_ == 0) {
    // A session of its own: Samba's daemons signal their whole process
    // group when they end, which must not be the test's.
    ::setsid();
    const std::string log = (d / "log" / "smbd.out").string();
    std::freopen(log.c_str(), "w", stdout);
    std::freopen(log.c_str(), "a", stderr);
    ::execlp("ip", "ip", "netns", "exec", peer_namespace_.c_str(), "/usr/sbin/smbd", "-s",
             conf.c_str(), "-F", "--no-process-group", static_cast<char*>(nullptr));
    std::_Exit(127);
  }
  if (smbd_ < 0) {
    why_not = "cannot start smbd";
    return false;
  }
  const std::string listening = "ip netns exec " + peer_namespace_ +
                                " ss -ltnH 'sport = :445' | grep -q LISTEN";
  for (int i = 0; i < 100; ++i) {
    if (RunQuietly(listening)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  why_not = "smbd did not listen within 5 s (see " + d.string() + "/log)";
  return false;
}

// smbd and the daemons it starts (samba-dcerpcd, rpcd_*) all carry our
// private smb.conf on their command line.
void SambaPeer::Freeze() { SignalProcessesMentioning((folder_ / "smb.conf").string(), SIGSTOP); }

void SambaPeer::Kill() { SignalProcessesMentioning((folder_ / "smb.conf").string(), SIGKILL); }

SambaPeer::~SambaPeer() {
  for (pid_t pid : ProcessesMentioning((folder_ / "smb.conf").string())) {
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGCONT);  // a frozen peer ends too
  }
  if (smbd_ > 0) {
    for (int i = 0; i < 40 && ::waitpid(smbd_, nullptr, WNOHANG) == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::kill(smbd_, SIGKILL);
    ::waitpid(smbd_, nullptr, 0);
  }
  Kill();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::string SambaPeer::address() const { return FormatDottedAddress(kPeerAddress); }

std::string SambaPeer::AuthFile(const std::string& user, const std::string& password) const {
  const fs::path path = folder_ / ("auth-" + user + "-" + std::to_string(password.size()));
  WriteFile(path, "username = " + user + "\npassword = " + password + "\ndomain = PEER\n",
            fs::perms::owner_read | fs::perms::owner_write);
  return path.string();
}

}  // namespace hostlore::testing
