#pragma once
// Quarter-hour bucket of a profile key such as "09:30 - 09:45".
#include <optional>
#include <string_view>

namespace tessel::calendar {

inline constexpr unsigned BUCKETS_PER_DAY = 96;

// Only the start time is read, and leniently: unreadable fields count as 0,
// so a malformed key lands in bucket 0. nullopt when the start lies at or
// past 24:00 and the entry is to be skipped.
std::optional<unsigned> bucket_of(std::string_view key);

}  // namespace tessel::calendar
