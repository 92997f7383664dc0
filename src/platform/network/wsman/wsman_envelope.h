// The SOAP requests that read WMI over WS-Management: Identify to prove that
// the service answers, then Enumerate with a WQL filter and Pull until the
// end of the sequence.
#pragma once

#include <string>
#include <string_view>

namespace hostlore::wsman {

// The resource of every WMI class in the default namespace; the WQL filter
// names the class.
inline constexpr std::string_view kCimv2Resource =
    "http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/*";
inline constexpr std::string_view kWqlDialect = "http://schemas.microsoft.com/wbem/wsman/1/WQL";

// A fresh "uuid:..." message identifier (random, version 4).
std::string NewMessageId();

// An Identify request.
std::string IdentifyEnvelope();

// An Enumerate of `wql` addressed to `endpoint` (the URL that the request is
// posted to), asking for up to `max_elements` instances in the response
// itself (OptimizeEnumeration), so that a small result costs one round trip.
std::string EnumerateEnvelope(std::string_view endpoint, std::string_view wql, int max_elements,
                              std::string_view message_id);

// A Pull of up to `max_elements` further instances of the enumeration named
// by `context`.
std::string PullEnvelope(std::string_view endpoint, std::string_view context, int max_elements,
                         std::string_view message_id);

}  // namespace hostlore::wsman
