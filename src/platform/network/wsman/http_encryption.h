// HTTP message encryption of WinRM over plain HTTP: the SOAP text sealed
// with the Negotiate context and framed as multipart/encrypted with the
// protocol application/HTTP-SPNEGO-session-encrypted.
#pragma once

#include <string>
#include <string_view>

#include "platform/network/wsman/spnego_auth.h"
#include "platform/status.h"

namespace hostlore::wsman {

inline constexpr std::string_view kSoapContentType = "application/soap+xml;charset=UTF-8";
inline constexpr std::string_view kEncryptedContentType =
    "multipart/encrypted;protocol=\"application/HTTP-SPNEGO-session-encrypted\";"
    "boundary=\"Encrypted Boundary\"";

// True for a Content-Type of multipart/encrypted.
bool IsEncryptedContent(std::string_view content_type);

// The multipart body that carries `soap` sealed with `context`.
Result<std::string> EncryptBody(SpnegoContext& context, std::string_view soap);

// The SOAP text of a multipart/encrypted body. Failure: the framing is not
// the expected one, the seal does not check, or the length that the body
// announces is not that of the text.
Result<std::string> DecryptBody(SpnegoContext& context, std::string_view body);

}  // namespace hostlore::wsman
