// One Negotiate (SPNEGO) security context with a WinRM service, through
// GSSAPI: Kerberos from the process's ticket cache, or NTLM (gss-ntlmssp)
// with a user and password. Once established, it seals and unseals the
// messages of HTTP message encryption.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/network/credentials.h"
#include "platform/status.h"

namespace hostlore::wsman {

// E_ACCESSDENIED: the failure number of every authentication failure.
inline constexpr int64_t kAuthenticationFailed = 0x80070005;

// A sealed message as HTTP message encryption frames it: the mechanism's
// header (signature) apart from the encrypted data.
struct Sealed {
  std::string header;
  std::string data;
};

class SpnegoContext {
 public:
  // A context for the service "HTTP@host", bound to the channel that
  // `channel_binding` (application data of GSSAPI channel bindings) names,
  // if not empty. Failure: the credentials cannot be had (no ticket cache, a
  // mechanism that is not installed).
  static Result<std::unique_ptr<SpnegoContext>> Start(const std::string& host,
                                                      const NetworkCredentials& credentials,
                                                      std::string channel_binding = {});

  struct Handles;
  // Made by Start.
  explicit SpnegoContext(std::unique_ptr<Handles> handles);
  SpnegoContext(const SpnegoContext&) = delete;
  SpnegoContext& operator=(const SpnegoContext&) = delete;
  ~SpnegoContext();

  // Feeds the service's token (empty for the first step) and returns the
  // token to send, which may be empty once the context is established.
  // Failure: GSSAPI refused (expired ticket, unknown service, bad token).
  Result<std::string> Step(std::string_view service_token);
  bool established() const { return established_; }

  // Encrypts and signs `plain`. Only on an established context.
  Result<Sealed> Seal(std::string_view plain);
  // Checks and decrypts a sealed message. Failure: it was altered, replayed,
  // or sealed by another context.
  Result<std::string> Unseal(std::string_view header, std::string_view data);

 private:
  std::unique_ptr<Handles> handles_;
  bool established_ = false;
};

}  // namespace hostlore::wsman
