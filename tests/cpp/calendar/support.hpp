#pragma once
// Shared helpers of the calendar tests: small documents and UTC instants
// computed without the time zone library.
#include <cstdint>
#include <string>

#include "core/instant.hpp"

namespace calendar_test {

// Days from 1970-01-01 to a proleptic Gregorian date (era arithmetic).
inline std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// A UTC wall-clock time; `offset_hours` is the local offset east of UTC when
// the fields are local time (-5 for EST, -4 for EDT).
inline tessel::Instant at(std::int64_t y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0,
                          int offset_hours = 0, std::uint32_t nanos = 0) {
    const std::int64_t secs = days_from_civil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s - offset_hours * 3600;
    return tessel::Instant{secs, nanos};
}

// A document with the three fields; `extra` members go first.
inline std::string document(const std::string& days, const std::string& profiles,
                            const std::string& zone = "\"UTC\"", const std::string& extra = "") {
    return "{" + extra + "\"DayWeightings\": " + days + ", \"TimeWeightings\": " + profiles +
           ", \"IanaTimeZone\": " + zone + "}";
}

inline bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }
inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace calendar_test
