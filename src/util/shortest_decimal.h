// Numbers as plain decimal text, the way the stored texts and messages show
// them.
#pragma once

#include <string>

namespace hostlore {

// The shortest plain decimal form of `value` rounded to at most 15
// significant digits: no exponent, no thousands separators, no trailing
// zeros, "." as the decimal mark, "-" for negative values.
// 2793 -> "2793", 2.5 -> "2.5", 154/3 -> "51.3333333333333", 1e20 ->
// "100000000000000000000", 0.00015 -> "0.00015", -0.0 -> "0".
// Not-a-number gives "NaN", infinities "Infinity" and "-Infinity".
std::string FormatShortestDecimal(double value);

}  // namespace hostlore
