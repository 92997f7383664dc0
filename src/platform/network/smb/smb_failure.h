// Why an SMB request failed, told so that a person can act on it.
//
// libsmbclient reports a failure as an errno value only; what it means
// depends on how far the session had come. Before the first request of a
// session has succeeded, a failure is about reaching the server and logging
// on: a refused or unanswered port, a server that drops the negotiation
// (one that speaks no SMB2 or SMB3), a logon refused. Afterwards it is
// about the request itself, or a connection lost on the way.
#pragma once

#include <string>

#include "platform/status.h"

namespace hostlore {

struct SmbFailureContext {
  std::string server;    // as the requests name it (a host name or the address)
  std::string address;   // the address the run reached the target at
  bool kerberos = true;  // the ticket cache, else NTLM as `user`
  std::string user;      // DOMAIN\user for NTLM
  bool connected = false;  // a request of this session has succeeded before
};

// Whether `error` means that the transport failed: the session is down.
bool IsSmbTransportError(int error);

// The Win32-style failure for libsmbclient's `error` while doing `what`.
// For a connection dropped before the first success, it asks the server
// whether it speaks SMB1 (see AnswersOnlySmb1) to tell why.
Status DescribeSmbFailure(int error, const std::string& what, const SmbFailureContext& context);

// Whether `server` accepts an SMB1 negotiation, which Hostlore never uses
// otherwise: asked in a child process of its own (the protocol range of
// libsmbclient is global to a process), anonymously, within `timeout_ms`.
bool AnswersSmb1(const std::string& server, int timeout_ms);

}  // namespace hostlore
