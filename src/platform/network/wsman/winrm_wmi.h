// The WMI seam over WS-Management (WinRM).
//
// Where to connect: HOSTLORE_WINRM_ENDPOINTS lists the endpoints to try in
// order, comma-separated, each "https:PORT" or "http:PORT"; the default is
// "https:5986,http:5985" (HTTPS first; plain HTTP always encrypts its
// messages). An endpoint that cannot be reached passes on to the next; a
// certificate that fails its check ends the attempt, so that no one in the
// middle can push the agent onto plain HTTP. Which certificate authorities HTTPS trusts: the PEM file named
// by HOSTLORE_WINRM_CA_FILE, else the system's trust store.
//
// The service-change subscription that the Windows scripting objects issue
// before every query has no counterpart here: its events were never read.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "platform/network/target_names.h"
#include "platform/network/wsman/http_transport.h"
#include "platform/network/wsman/wsman_session.h"
#include "platform/wmi/wmi.h"

namespace hostlore::wsman {

struct WinrmOptions {
  std::vector<Endpoint> endpoints = {{true, 5986}, {false, 5985}};
  HttpOptions http;
  // Instances asked for per Enumerate or Pull. The inventory's classes have
  // a handful of instances, so one Enumerate answers each of them.
  int max_elements = 100;
};

// The defaults, with HOSTLORE_WINRM_ENDPOINTS and HOSTLORE_WINRM_CA_FILE
// applied. Failure: HOSTLORE_WINRM_ENDPOINTS cannot be read.
Result<WinrmOptions> WinrmOptionsFromEnvironment();

// Parses an endpoint list such as "https:5986,http:5985".
Result<std::vector<Endpoint>> ParseEndpoints(std::string_view text);

// Reads the environment at every Connect, so that one process can be pointed
// elsewhere between runs. With Kerberos, a connection to an address
// authenticates to HTTP/<the name `names` gives for it> (the address itself
// when there is none, or when `names` is null); the requests still go to
// the address.
std::unique_ptr<Wmi> NewWinrmWmi(std::shared_ptr<TargetNames> names);
std::unique_ptr<Wmi> NewWinrmWmi(const WinrmOptions& options,
                                 std::shared_ptr<TargetNames> names = nullptr);

}  // namespace hostlore::wsman
