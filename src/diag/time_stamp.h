// Time stamps in the host's local time: "YYYY/MM/DD HH:MM:SS".
#pragma once

#include <ctime>
#include <string>

namespace hostlore {

// "2003/05/29 14:07:09".
std::string FormatTimeStamp(std::time_t when);
// "2003/05/29".
std::string FormatDate(std::time_t when);

}  // namespace hostlore
