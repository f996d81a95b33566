#pragma once
// A UTC point in time with nanosecond resolution.
#include <compare>
#include <cstdint>
#include <optional>

namespace tessel {

struct Instant {
    std::int64_t seconds = 0;  // since 1970-01-01T00:00:00Z
    // 0..999'999'999; up to 1'999'999'999 only for a leap second carried from
    // the input, which can only sit on the 59th second of a minute.
    std::uint32_t nanos = 0;

    friend constexpr auto operator<=>(const Instant&, const Instant&) = default;
};

// Reads seconds since the epoch as a double. Whole seconds by floor, the
// fraction rounded to the nearest nanosecond (halves away from zero), so
// instants before 1970 keep their fraction. nullopt when the instant is out
// of range ("Invalid timestamp").
std::optional<Instant> instant_from_timestamp(double seconds);

// The instant of whole seconds and nanoseconds as an Instant holds them, or
// nullopt for a pair no timestamp could have produced.
std::optional<Instant> instant_from_parts(std::int64_t seconds, std::int64_t nanos);

// UTC wall clock of an instant, with the sub-second part rounded to the
// nearest microsecond (carrying into the next second when needed).
struct UtcFields {
    std::int64_t year;
    int month, day, hour, minute, second, microsecond;
    bool leap_second;  // the input carried a leap second (shown as :59)
};
UtcFields utc_fields(const Instant& t);

}  // namespace tessel
