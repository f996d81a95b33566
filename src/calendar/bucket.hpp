#pragma once
// Quarter-hour bucket of a profile key such as "09:30 - 09:45".
#include <array>
#include <optional>
#include <string_view>

namespace tessel::calendar {

inline constexpr unsigned BUCKETS_PER_DAY = 96;
inline constexpr unsigned SECONDS_PER_BUCKET = 900;  // a quarter of an hour
static_assert(BUCKETS_PER_DAY * SECONDS_PER_BUCKET == 86400);
// A day's cumulative weights: 0 at midnight, then the end of each bucket.
using DayCurve = std::array<double, BUCKETS_PER_DAY + 1>;

// Only the start time is read, and leniently: unreadable fields count as 0,
// so a malformed key lands in bucket 0. nullopt when the start lies at or
// past 24:00 and the entry is to be skipped.
std::optional<unsigned> bucket_of(std::string_view key);

}  // namespace tessel::calendar
