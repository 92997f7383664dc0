// The TLS channel binding that ties a Negotiate context to the HTTPS
// connection it travels on ("tls-server-end-point", RFC 5929): a service that
// checks it (WinRM's CbtHardeningLevel) knows that the client authenticated
// to the server whose certificate it verified, not to a relay in between.
#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace hostlore::wsman {

// "tls-server-end-point:" followed by the hash of the DER form of the
// server's certificate `pem`, with the hash function of the certificate's
// signature (SHA-256 where that is MD5 or SHA-1, or names none). Failure:
// `pem` is not a certificate.
Result<std::string> TlsServerEndPoint(std::string_view pem);

}  // namespace hostlore::wsman
