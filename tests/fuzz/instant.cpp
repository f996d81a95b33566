// Timestamp-to-instant arithmetic and back to UTC wall-clock fields, checked
// against independent civil-date arithmetic; calendar and business time
// between the two instants. Input: two doubles (16 bytes).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "calendar/calendar.hpp"
#include "core/instant.hpp"

namespace {

using tessel::Instant;

constexpr std::int64_t NANOS_PER_SECOND = 1'000'000'000;

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// era-based algorithms, exact over the whole 64-bit range used here).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    std::int64_t y;
    int m, d;
};
Civil civil_from_days(std::int64_t z) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

bool same_bits(double x, double y) { return std::memcmp(&x, &y, sizeof x) == 0; }

[[noreturn]] void fail(double a, const char* what) {
    std::fprintf(stderr, "timestamp %.17g: %s\n", a, what);
    std::abort();
}

// Checks one conversion on its own; returns the instant when accepted.
std::optional<Instant> check(double a) {
    const std::optional<Instant> t = tessel::instant_from_timestamp(a);
    if (std::isnan(a)) {
        if (!t || *t != Instant{0, 0}) fail(a, "NaN is not the epoch");
        return t;
    }
    static const std::int64_t first_day = days_from_civil(-262144, 1, 1);
    static const std::int64_t last_day = days_from_civil(262143, 12, 31);
    const double whole = std::floor(a);
    if (!(std::fabs(whole) < 9.2e18)) {  // far outside the date range
        if (t) fail(a, "accepted a timestamp beyond the date range");
        return t;
    }
    const long double fraction_nanos = static_cast<long double>(a - whole) * 1e9L;  // a - whole is exact
    // The fraction rounds up to a whole second only within half a nanosecond of it.
    const bool full_second = fraction_nanos > 1e9L - 0.5L - 1e-6L;
    const bool ambiguous = std::fabs(fraction_nanos - (1e9L - 0.5L)) <= 1e-6L;
    // Before 1970 such a fraction carries into the seconds (where rounding is
    // a tie within the tolerance, the instant decides which way it went).
    const bool carries = a < 0 && (ambiguous ? t && t->seconds != static_cast<std::int64_t>(whole) : full_second);
    const auto s = static_cast<std::int64_t>(whole) + (carries ? 1 : 0);
    const long double exact_nanos = carries ? fraction_nanos - 1e9L : fraction_nanos;
    const std::int64_t day = floor_div(s, 86400);
    const bool in_range = day >= first_day && day <= last_day;
    const bool on_59 = s - floor_div(s, 60) * 60 == 59;
    if (!ambiguous && t.has_value() != (in_range && (carries || !full_second || on_59))) fail(a, "wrong acceptance");
    if (!t) return t;

    if (t->seconds != s) fail(a, carries ? "a whole-second fraction did not carry" : "seconds are not the floor");
    if (t->nanos >= 2 * NANOS_PER_SECOND || (t->nanos >= NANOS_PER_SECOND && !on_59)) fail(a, "leap nanoseconds off the 59th second");
    if (std::fabs(static_cast<long double>(t->nanos) - exact_nanos) > 0.5L + 1e-6L) fail(a, "nanoseconds not nearest");

    // Wall clock: microseconds rounded to nearest, carrying into the next second.
    const tessel::UtcFields f = tessel::utc_fields(*t);
    const std::uint32_t sub = t->nanos % NANOS_PER_SECOND;
    std::int64_t secs = s;
    std::int64_t micros = (sub + 500) / 1000;
    if (micros == 1'000'000) {
        micros = 0;
        ++secs;
    }
    const std::int64_t d = floor_div(secs, 86400);
    const std::int64_t sod = secs - d * 86400;
    const Civil c = civil_from_days(d);
    if (f.year != c.y || f.month != c.m || f.day != c.d || f.hour != sod / 3600 || f.minute != sod / 60 % 60 ||
        f.second != sod % 60 || f.microsecond != micros || f.leap_second != (t->nanos >= NANOS_PER_SECOND))
        fail(a, "wall-clock fields differ");
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size != 16) return -1;  // not kept in the corpus
    double a, b;
    std::memcpy(&a, data, 8);
    std::memcpy(&b, data + 8, 8);
    const std::optional<Instant> ta = check(a), tb = check(b);
    if (!ta || !tb) return 0;
    if (!std::isnan(a) && !std::isnan(b) && a <= b && *tb < *ta) fail(a, "conversion is not monotonic");

    using tessel::calendar::Calendar;
    const double span = Calendar::get_cal_ttx(*ta, *tb);
    if (span != -Calendar::get_cal_ttx(*tb, *ta)) fail(a, "get_cal_ttx is not antisymmetric");
    if (Calendar::get_cal_ttx(*ta, *ta) != 0.0) fail(a, "get_cal_ttx of one instant is not 0");
    // Whole seconds between the two, truncated toward zero.
    const __int128 nanos = (static_cast<__int128>(tb->seconds) - ta->seconds) * NANOS_PER_SECOND +
                           (static_cast<std::int64_t>(tb->nanos) - static_cast<std::int64_t>(ta->nanos));
    if (span != static_cast<double>(static_cast<std::int64_t>(nanos / NANOS_PER_SECOND)) / 31536000.0)
        fail(a, "get_cal_ttx is not the truncated whole seconds");

    // One calendar kept warm over the whole run, its per-year cache full of
    // the years of earlier inputs, must agree with cold ones; each cold one
    // reads its first argument's offset from the zone directly.
    static const Calendar cold = Calendar::create("BTCUSDT").value();
    static Calendar warm = cold;
    const double bus = warm.get_bus_ttx(*ta, *tb);
    if (bus != -warm.get_bus_ttx(*tb, *ta)) fail(a, "get_bus_ttx is not antisymmetric");
    if (!same_bits(bus, Calendar(cold).get_bus_ttx(*ta, *tb)) || bus != -Calendar(cold).get_bus_ttx(*tb, *ta))
        fail(a, "the per-year cache changed a result");
    return 0;
}
