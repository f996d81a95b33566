#pragma once
// Tenor strings such as "3m": a decimal number and a unit letter, read as
// years of 365 days (a month is 30 days, a week 7).
#include <string_view>

#include "core/result.hpp"

namespace tessel::calendar {

Result<double> tenor_to_ttx(std::string_view tenor);

}  // namespace tessel::calendar
