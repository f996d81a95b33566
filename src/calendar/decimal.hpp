#pragma once
// Decimal literals to doubles, shared by the document reader and the tenor
// reader. Each caller checks its own grammar first.
#include <string_view>

namespace tessel::calendar {

// `literal` must match  [+-]? (digits ["." digits?] | "." digits) ([eE] [+-]? digits)?
// Gives the double nearest to its value (ties to even); values beyond the
// largest double give ±inf and values below the smallest subnormal ±0.
double read_decimal(std::string_view literal);

}  // namespace tessel::calendar
