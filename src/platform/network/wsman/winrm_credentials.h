// Whose identity WinRM requests carry: the process's Kerberos ticket cache
// (KRB5CCNAME), or NTLM with the user and password of the authentication
// file named by HOSTLORE_AUTH_FILE (the `smbclient -A` format).
#pragma once

#include <string>

#include "platform/status.h"

namespace hostlore::wsman {

struct WinrmCredentials {
  bool kerberos = true;  // the ticket cache and nothing else
  std::string username;  // NTLM only
  std::string domain;
  std::string password;
};

// Kerberos when HOSTLORE_AUTH_FILE is unset; NTLM with the file's
// credentials otherwise. Failure: the file cannot be read, may be read by
// group or others, or names no user. No description contains the password.
Result<WinrmCredentials> LoadWinrmCredentials();

// The `username =`, `password =` and `domain =` lines of `path`; a user
// written as DOMAIN\user or user@domain names its domain itself.
Result<WinrmCredentials> ReadWinrmAuthFile(const std::string& path);

}  // namespace hostlore::wsman
