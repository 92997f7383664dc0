// Samba's smbd as the SMB peer of a test, in the peer namespace of a
// NamespacePair: a private smb.conf, registry content imported with `net`,
// two accounts (`inv`, an administrator, and `plain`, a plain user), shares
// C$ and d$ whose sizes come from a dfree script (and ADMIN$ if asked), and
// a list of services.
// The client side reaches it at kPeerAddress through the pair's veth.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/network/namespace_pair.h"

namespace hostlore::testing {

struct SambaPeerContent {
  // A .reg file (REGEDIT5 text) imported before smbd starts.
  std::string registry;
  // Names listed by `svcctl list`.
  std::vector<std::string> services;
  // C$ and d$ report these many 1024-byte blocks, total and free.
  uint64_t c_blocks = 0, c_free_blocks = 0;
  uint64_t d_blocks = 0, d_free_blocks = 0;
  // Speaks SMB1 only (server max protocol = NT1), as Windows XP did.
  bool smb1_only = false;
  // Shares ADMIN$ (the folder AdminFolder(), with a Temp folder in it) to
  // administrators, as Windows shares its system folder.
  bool admin_share = false;
};

inline constexpr const char* kAdminUser = "inv";
inline constexpr const char* kAdminPassword = "Inv-Secret-1";
inline constexpr const char* kPlainUser = "plain";
inline constexpr const char* kPlainPassword = "Plain-Secret-1";

class SambaPeer {
 public:
  // A running peer, or nullptr with `why_not` filled when this machine
  // cannot run one (not root, no namespaces, Samba not installed).
  static std::unique_ptr<SambaPeer> Start(const SambaPeerContent& content, std::string& why_not);

  SambaPeer(std::unique_ptr<NamespacePair> pair, std::filesystem::path folder);
  SambaPeer(const SambaPeer&) = delete;
  SambaPeer& operator=(const SambaPeer&) = delete;
  // Stops smbd and the RPC daemons it started, removes the folder.
  ~SambaPeer();

  std::string address() const;
  // The folder behind ADMIN$.
  std::filesystem::path AdminFolder() const { return folder_ / "windows"; }
  const NamespacePair& namespaces() const { return *pair_; }
  // An authentication file (mode 0600) for `user` with `password`.
  std::string AuthFile(const std::string& user, const std::string& password) const;
  // Ends smbd and every daemon it started at once (SIGKILL): the peer dies
  // mid-run.
  void Kill();
  // Stops smbd and its daemons (SIGSTOP): connections stay up, nothing
  // answers any more.
  void Freeze();

 private:
  bool Launch(const SambaPeerContent& content, std::string& why_not);

  std::unique_ptr<NamespacePair> pair_;
  std::filesystem::path folder_;
  std::string peer_namespace_;
  pid_t smbd_ = -1;
};

}  // namespace hostlore::testing
