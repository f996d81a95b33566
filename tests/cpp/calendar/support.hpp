#pragma once
// Helpers of the calendar tests: small documents, and UTC instants computed
// without the time zone library.
#include <cstdint>
#include <string>

#include "core/instant.hpp"

namespace calendar_test {

// Days from 1970-01-01 to a proleptic Gregorian date, by 400-year eras.
inline std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Wall-clock fields at `offset_hours` east of UTC (-5 for EST, -4 for EDT).
inline tessel::Instant at(std::int64_t y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0, int offset_hours = 0) {
    return {days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offset_hours * 3600, 0};
}

inline std::string document(const std::string& days, const std::string& profiles, const std::string& zone = "\"UTC\"",
                            const std::string& first_members = "") {
    return "{" + first_members + "\"DayWeightings\": " + days + ", \"TimeWeightings\": " + profiles +
           ", \"IanaTimeZone\": " + zone + "}";
}

inline bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace calendar_test
