#include "core/instant.hpp"

#include <cctz/civil_time.h>

#include <cmath>
#include <limits>

namespace tessel {
namespace {

constexpr std::int64_t SECONDS_PER_DAY = 86400;
constexpr std::uint32_t NANOS_PER_SECOND = 1'000'000'000;
const std::int64_t FIRST_DAY = cctz::civil_day(-262144, 1, 1) - cctz::civil_day(1970, 1, 1);
const std::int64_t LAST_DAY = cctz::civil_day(262143, 12, 31) - cctz::civil_day(1970, 1, 1);

std::int64_t saturating_floor(double a) {
    if (std::isnan(a)) return 0;
    constexpr double two63 = 9223372036854775808.0;
    if (a >= two63) return std::numeric_limits<std::int64_t>::max();
    if (a < -two63) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(std::floor(a));
}

std::uint32_t clamped_nanos(double fraction) {
    const double n = std::round(fraction * 1e9);
    if (!(n > 0.0)) return 0;  // NaN and negatives
    if (n >= 4294967295.0) return std::numeric_limits<std::uint32_t>::max();
    return static_cast<std::uint32_t>(n);
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

std::optional<Instant> instant_from_parts(std::int64_t seconds, std::int64_t nanos) {
    const std::int64_t days = floor_div(seconds, SECONDS_PER_DAY);
    // Range first: days * 86400 overflows for the saturated extremes.
    if (days < FIRST_DAY || days > LAST_DAY) return std::nullopt;
    if (nanos < 0 || nanos > 2 * std::int64_t{NANOS_PER_SECOND} - 1) return std::nullopt;
    const std::int64_t second_of_day = seconds - days * SECONDS_PER_DAY;
    if (nanos >= NANOS_PER_SECOND && second_of_day % 60 != 59) return std::nullopt;
    return Instant{seconds, static_cast<std::uint32_t>(nanos)};
}

std::optional<Instant> instant_from_timestamp(double a) {
    std::int64_t s = saturating_floor(a);
    // a - s is exact for finite a (and inf - max stays inf, which clamps out).
    std::uint32_t n = clamped_nanos(a - static_cast<double>(s));
    // Before 1970 the fraction is what remains above the floored second; when
    // it rounds to a whole second (-1e-10 is the epoch, not 23:59:59 plus a
    // leap second) it carries. s + 1 cannot overflow, as s < 0.
    if (a < 0 && n == NANOS_PER_SECOND) {
        s += 1;
        n = 0;
    }
    return instant_from_parts(s, n);
}

UtcFields utc_fields(const Instant& t) {
    const bool leap = t.nanos >= NANOS_PER_SECOND;
    std::int64_t seconds = t.seconds;
    std::uint32_t micros = ((leap ? t.nanos - NANOS_PER_SECOND : t.nanos) + 500) / 1000;
    if (micros == 1'000'000) {
        micros = 0;
        seconds += 1;
    }
    const cctz::civil_second cs = cctz::civil_second(1970, 1, 1, 0, 0, 0) + seconds;
    return UtcFields{cs.year(),   cs.month(),  cs.day(), cs.hour(), cs.minute(),
                     cs.second(), static_cast<int>(micros), leap};
}

}  // namespace tessel
