// Reading the SOAP responses of a WS-Management service: the instances of an
// enumeration page, the context for the next Pull, the end of the sequence,
// and faults. The text comes from the target and is untrusted: anything that
// is not well-formed or not what the request asked for is a failure.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/status.h"
#include "platform/wmi/wmi.h"

namespace hostlore::wsman {

// The failure number of a response that is not a WS-Management answer at all
// (ERROR_WSMAN_INVALID_RESPONSE-like: not XML, wrong body).
inline constexpr int64_t kInvalidResponse = 0x80338043;
// The number of a fault that names no WMI or WS-Management code.
inline constexpr int64_t kUnspecifiedFault = 0x80338000;

// One instance: the class (the element's local name) and its properties in
// document order. WS-Management carries every value as text, so a value is
// text or null (xsi:nil); a property that the instance does not carry is not
// listed.
struct Instance {
  std::string class_name;
  std::vector<std::pair<std::string, WmiValue>> properties;

  // The value of `property` (case-insensitive). Failure: kWbemNotFound.
  Result<WmiValue> Get(std::string_view property) const;
};

// One page of an enumeration: the instances of an (optimized) Enumerate or a
// Pull response, the context that the next Pull names, and whether the
// service said that no instance follows.
struct Page {
  std::vector<Instance> instances;
  std::string context;
  bool end_of_sequence = false;
};

// Parses an EnumerateResponse or PullResponse. Failure: the response is a
// fault (its number is the WMI error code when the service names one, else
// the WS-Management code; its description the fault's reason), or it is not
// a well-formed response of either kind (kInvalidResponse).
Result<Page> ParseEnumerationResponse(std::string_view xml);

// Ok for an IdentifyResponse; the fault or kInvalidResponse otherwise.
Status ParseIdentifyResponse(std::string_view xml);

}  // namespace hostlore::wsman
