#include "platform/echo/echo.h"

namespace hostlore {

std::string FormatDottedAddress(const Ipv4Address& address) {
  std::string text;
  for (size_t i = 0; i < address.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(address[i]);
  }
  return text;
}

}  // namespace hostlore
