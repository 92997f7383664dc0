// The identity that the network backends (SMB and WinRM alike) present: the
// process's Kerberos ticket cache, or, for NTLM, an authentication file in
// the format of Samba's `smbclient -A` named by HOSTLORE_AUTH_FILE.
#pragma once

#include <string>

#include "platform/status.h"

namespace hostlore {

struct NetworkCredentials {
  bool kerberos = true;  // use the ticket cache (KRB5CCNAME) and nothing else
  std::string username;
  std::string password;
  std::string domain;
};

// HOSTLORE_AUTH_FILE when it is set, the ticket cache otherwise.
// Failure: the file cannot be read, is readable by group or others, or
// names no user. Descriptions never contain the password.
Result<NetworkCredentials> LoadNetworkCredentials();

// The `username =`, `password =` and `domain =` lines of an authentication
// file; other lines are ignored. A user written as DOMAIN\user or
// user@domain names its domain itself.
Result<NetworkCredentials> ReadAuthFile(const std::string& path);

}  // namespace hostlore
