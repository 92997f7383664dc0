// Base64 (RFC 4648, with padding) for the tokens of the Negotiate header.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostlore::wsman {

std::string EncodeBase64(std::string_view bytes);
// nullopt when `text` is not canonical padded base64.
std::optional<std::string> DecodeBase64(std::string_view text);

}  // namespace hostlore::wsman
