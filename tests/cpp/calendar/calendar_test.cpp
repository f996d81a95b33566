#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <cctz/civil_time.h>
#include <cctz/time_zone.h>

#include "calendar/calendar.hpp"
#include "calendar/embedded_docs.hpp"
#include "calendar/zones.hpp"
#include "support.hpp"

namespace {

using calendar_test::at;
using calendar_test::document;
using tessel::Instant;
using tessel::calendar::Calendar;

constexpr int MON = 0, TUE = 1, FRI = 4, SAT = 5, SUN = 6, EST = -5, EDT = -4;

Calendar make(const std::string& text) {
    auto r = text.empty() ? Calendar::create("BTCUSDT") : Calendar::from_document(text);
    if (!r.ok()) ADD_FAILURE() << r.error().message << " for " << text;
    return std::move(r).value();
}

std::string error_of(const std::string& text) {
    const auto r = Calendar::from_document(text);
    return r.ok() ? std::string("(no error)") : r.error().message;
}

double step(const Calendar& cal, int day, int k) { return (*cal.day_curve(day))[k + 1] - (*cal.day_curve(day))[k]; }

TEST(CalendarCreate, Failures) {
    EXPECT_EQ(make("").underlying(), "BTCUSDT");
    EXPECT_EQ(make(document("{}", "{}")).underlying(), "");
    for (const std::string name : {"btcusdt", " BTCUSDT", "ETHUSDT", ""}) {
        EXPECT_EQ(Calendar::create(name).error().message, "No embedded calendar for underlying: " + name);
    }
    for (const std::string zone : {"US/Eastern", "America/New_York", "UTC", "EST5EDT"}) {
        EXPECT_TRUE(Calendar::from_document(document("{}", "{}", "\"" + zone + "\"")).ok()) << zone;
    }
    // Names the zone library would make up itself are not in the database.
    for (const std::string zone : {"US/Eastrn", "us/eastern", " UTC", "", "Fixed/UTC+01:00:00", "localtime"}) {
        EXPECT_EQ(error_of(document("{}", "{}", "\"" + zone + "\"")), "Invalid IANA timezone: " + zone);
    }
    EXPECT_TRUE(calendar_test::starts_with(error_of(document("{}", "{}", "\"Nowhere\"") + "x"), "trailing characters"));
}

TEST(CalendarCreate, DayTables) {
    const Calendar cal = make(document(
        R"({"MONDAY": 2, "tUeSdAy": 0.96, "m\u043Enday": 4, "monday ": 5, "Friday": 0.5, "friday": 3, "Sunday": 2,
            "SATURDAY": 7, "saturday": 1})",
        R"({"MONDAY": {"06:00 - 06:15": 1, "18:00 - 18:15": 3, "06:00 - 06:15": 1, "24:00 - 24:15": 9},
            "tuesday": {"00:00 - 00:15": 5}, "wednesday": {"00:00 - 00:15": 5},
            "friday": {"00:00 - 00:15": 5, "00:00 - 00:15": 1, "00:15 - 00:30": 9},
            "Sunday": {"00:00 - 00:15": 0}, "saturday": {"09:30": 1}, "saturday": {"09:37 - 09:52": 3, "10:00": 1}})"));
    const double day_weights[7] = {2, 0.96, 0, 0, 3, 1, 2};  // later names of one weekday win
    for (int d = 0; d < 7; ++d) EXPECT_EQ(cal.day_weight(d), day_weights[d]) << d;
    EXPECT_NEAR(cal.week_weight(), 8.96, 1e-14);
    const auto& mon = *cal.day_curve(MON);  // read under the very same key
    EXPECT_EQ(mon[24], 0.0);
    EXPECT_EQ(mon[25], 0.5);
    EXPECT_EQ(mon[72], 0.5);
    EXPECT_EQ(mon[73], 2.0);
    EXPECT_EQ(mon[96], 2.0);
    // "tUeSdAy" has no profile under its own spelling: uniform.
    for (int k = 0; k <= 96; ++k) EXPECT_NEAR((*cal.day_curve(TUE))[k], 0.01 * k, 1e-14) << k;
    EXPECT_FALSE(cal.day_curve(2).has_value());  // not named, whatever the profiles hold
    // Divided first: (1 / 10) x 3 rounds differently from (1 x 3) / 10.
    ASSERT_NE(0.1 * 3.0, 0.3);
    EXPECT_EQ((*cal.day_curve(FRI))[1], 0.1 * 3.0);
    EXPECT_EQ(step(cal, SAT, 38), 0.75);  // the later profile, the later key of bucket 38
    for (const double v : *cal.day_curve(SUN)) EXPECT_EQ(v, 0.0);  // zero-sum day
}

TEST(EmbeddedCalendar, TablesAndTellingRows) {
    const Calendar cal = make("");
    const double days[7] = {1, 1, 1, 1, 0.9, 0.27, 0.53};
    for (int d = 0; d < 7; ++d) {
        EXPECT_EQ(cal.day_weight(d), days[d]);
        EXPECT_EQ((*cal.day_curve(d))[0], 0.0);
        EXPECT_NEAR((*cal.day_curve(d))[96], days[d], 1e-14) << d;
    }
    EXPECT_NEAR(cal.week_weight(), 5.7, 1e-14);
    for (int d = 1; d < 4; ++d) EXPECT_EQ(*cal.day_curve(d), *cal.day_curve(MON));
    // Rows 00:00, 00:45, 09:30, 11:15, 16:00, 18:00, 23:45 as stored; steps are
    // in the ratio of the stored weights.
    const int buckets[7] = {0, 3, 38, 45, 64, 72, 95};
    const double rows[4][7] = {
        {9.296884883729719, 7.700336881135465, 62.52174476139236, 34.58465026582505, 25.25906610633516, 18.371145796496613, 8.026578187108981},
        {9.03011625564374, 8.514278256870625, 63.55522673841343, 37.2267946460433, 18.235765711161214, 11.502540257094058, 3.7397808633153513},
        {4.130380629396172, 3.263553788601789, 6.567933905746908, 7.856570316929013, 4.7558711479340605, 6.279044703992892, 3.551490030261413},
        {3.6250555848397292, 3.3449296828536075, 9.92808486907062, 11.485036325987172, 10.445227678921222, 30.747213458006772, 8.649675868915342}};
    const int day_of_row[4] = {MON, FRI, SAT, SUN}, smallest[4] = {3, 95, 3, 9}, largest[4] = {38, 38, 45, 72};
    for (int r = 0; r < 4; ++r) {
        const int d = day_of_row[r];
        for (int i = 0; i < 7; ++i) EXPECT_NEAR(step(cal, d, buckets[i]) / step(cal, d, 0), rows[r][i] / rows[r][0], 1e-9);
        int lo = 0, hi = 0;
        for (int k = 0; k < 96; ++k) {
            if (step(cal, d, k) < step(cal, d, lo)) lo = k;
            if (step(cal, d, k) > step(cal, d, hi)) hi = k;
        }
        EXPECT_EQ(lo, smallest[r]) << d;
        EXPECT_EQ(hi, largest[r]) << d;
    }
}

TEST(BusinessTime, YearWeights) {
    Calendar cal = make("");
    EXPECT_NEAR(cal.year_weight(2023), 296.93, 1e-10);
    EXPECT_NEAR(cal.year_weight(2024), 298.4, 1e-10);
    EXPECT_NEAR(cal.year_weight(2025), 297.4, 1e-10);
    // Whole weeks multiplied, then the one or two days added in turn. 2000 and
    // year 0 start on a Saturday and are leap years; 1900 starts on a Monday.
    const double weeks = 52.0 * cal.week_weight();
    EXPECT_EQ(cal.year_weight(2023), weeks + 0.53);
    EXPECT_EQ(cal.year_weight(2024), weeks + 1.0 + 1.0);
    EXPECT_EQ(cal.year_weight(2000), weeks + 0.27 + 0.53);
    EXPECT_EQ(cal.year_weight(1900), weeks + 1.0);
    EXPECT_EQ(cal.year_weight(0), weeks + 0.27 + 0.53);
}

struct Span {
    const char* name;
    Instant from, to;
    double expected, shown;  // exact quotient, and the table's rounded figure
};

class WorkedSpan : public ::testing::TestWithParam<Span> {};

TEST_P(WorkedSpan, MatchesTheTable) {
    Calendar cal = make("");
    const Span& s = GetParam();
    const double v = cal.get_bus_ttx(s.from, s.to);
    EXPECT_NEAR(v, s.expected, 2e-12);  // one ulp of a coordinate near 2025 is 2.3e-13
    EXPECT_NEAR(v, s.shown, 5e-6 * s.shown);  // six significant digits
    EXPECT_EQ(cal.get_bus_ttx(s.to, s.from), -v);
}

INSTANTIATE_TEST_SUITE_P(
    Embedded, WorkedSpan,
    ::testing::Values(
        Span{"Week", at(2025, 1, 6, 0, 0, 0, EST), at(2025, 1, 13, 0, 0, 0, EST), 5.7 / 297.4, 0.0191661},
        Span{"Monday", at(2025, 1, 6, 0, 0, 0, EST), at(2025, 1, 7, 0, 0, 0, EST), 1 / 297.4, 0.00336247},
        Span{"Saturday", at(2025, 1, 11, 0, 0, 0, EST), at(2025, 1, 12, 0, 0, 0, EST), 0.27 / 297.4, 0.000907868},
        Span{"YearEnd", at(2024, 12, 31, 0, 0, 0, EST), at(2025, 1, 1, 0, 0, 0, EST), 1 / 298.4, 0.00335121},
        Span{"FallBack", at(2025, 11, 2, 5, 30), at(2025, 11, 2, 6, 30), 0.0, 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BusinessTime, SpringForward) {
    // Sunday's raw weights read from the stored text, without the document reader.
    const std::string_view text(tessel::calendar::embedded::documents[0].text, tessel::calendar::embedded::documents[0].size);
    std::size_t pos = text.find("\"sunday\": {", text.find("\"TimeWeightings\""));
    double w[96], total = 0.0;
    for (double& x : w) {
        pos = text.find("\": ", text.find(" - ", pos)) + 3;
        total += x = std::strtod(text.data() + pos, nullptr);
    }
    // 01:59 standard time to 03:00 daylight time, one minute apart: a fifteenth
    // of the 01:45 bucket and the four buckets of the skipped hour.
    const double expected = (w[7] / 15 + w[8] + w[9] + w[10] + w[11]) / total * 0.53 / 297.4;
    Calendar cal = make("");
    const Instant before = at(2025, 3, 9, 1, 59, 0, EST), after = at(2025, 3, 9, 3, 0, 0, EDT);
    ASSERT_EQ(after.seconds - before.seconds, 60);
    EXPECT_NEAR(cal.get_bus_ttx(before, after), expected, 2e-12);
}

TEST(BusinessTime, ClockRules) {
    Calendar cal = make("");
    // The repeated hour: equal wall clocks give equal coordinates.
    const Instant first = at(2025, 11, 2, 1, 59, 59, EDT), second = at(2025, 11, 2, 1, 59, 59, EST);
    EXPECT_EQ(cal.get_bus_ttx(first, second), 0.0);
    EXPECT_LT(cal.get_bus_ttx(first, at(2025, 11, 2, 1, 0, 0, EST)), 0.0);
    // Sub-second parts, leap nanoseconds included, are dropped.
    for (const std::uint32_t n : {1u, 999'999'999u, 1'000'000'000u, 1'999'999'999u}) {
        EXPECT_EQ(cal.get_bus_ttx(at(2025, 6, 2, 14, 0, 59), Instant{at(2025, 6, 2, 14, 0, 59).seconds, n}), 0.0);
    }
    // Local new year is the year exactly (New York kept mean time, 4:56:02
    // behind UTC, until November 1883).
    const auto new_year = [](int y) { return y <= 1883 ? at(y, 1, 1, 4, 56, 2) : at(y, 1, 1, 0, 0, 0, EST); };
    for (const int y : {-1, 0, 1880, 1970, 2023, 2024, 9999}) {
        EXPECT_EQ(cal.get_bus_ttx(new_year(y), new_year(y + 1)), 1.0) << y;
        EXPECT_EQ(cal.get_bus_ttx(new_year(y), new_year(y + 3)), 3.0) << y;
        const double last_second = cal.get_bus_ttx(Instant{new_year(y).seconds - 1, 0}, new_year(y));
        EXPECT_TRUE(last_second > 0.0 && last_second < 1e-5) << y;
    }
}

TEST(BusinessTime, SmallDocuments) {
    // UTC; a uniform Monday of 0.96, a zero-sum Tuesday of 2, nothing else.
    Calendar cal = make(document(R"({"monday": 0.96, "tuesday": 2})", R"({"tuesday": {"00:00 - 00:15": 0}})"));
    const double w = cal.year_weight(2024);
    EXPECT_NEAR(w, 52 * 2.96 + 0.96 + 2, 1e-12);  // 2024 starts on a Monday
    const Instant monday = at(2024, 1, 8);
    EXPECT_NEAR(cal.get_bus_ttx(monday, at(2024, 1, 8, 0, 7, 30)), 0.005 / w, 5e-13);
    EXPECT_NEAR(cal.get_bus_ttx(monday, at(2024, 1, 8, 23, 59, 59)), (0.96 - 0.01 / 900) / w, 5e-13);
    EXPECT_EQ(cal.get_bus_ttx(at(2024, 1, 9), at(2024, 1, 9, 23, 59, 59)), 0.0);
    EXPECT_NEAR(cal.get_bus_ttx(at(2024, 1, 9, 23, 59, 59), at(2024, 1, 10)), 2 / w, 5e-13);
    EXPECT_EQ(cal.get_bus_ttx(at(2024, 1, 10), at(2024, 1, 14, 23, 59, 59)), 0.0);  // days without tables
    Calendar none = make(document(R"({"monday": 0})", "{}"));
    EXPECT_TRUE(std::isnan(none.get_bus_ttx(at(2024, 1, 8), at(2024, 1, 9))));
}

TEST(BusinessTime, AntisymmetricCacheTransparentAndSafeAtTheEnds) {
    Calendar warm = make("");
    std::mt19937_64 rng(12345);
    std::uniform_int_distribution<std::int64_t> secs(-5'364'662'400, 7'258'118'400);  // 1800 to 2200
    for (int i = 0; i < 2000; ++i) {
        const Instant a{secs(rng), static_cast<std::uint32_t>(rng() % 1'000'000'000)}, b{secs(rng), 0};
        const double ab = warm.get_bus_ttx(a, b);
        EXPECT_EQ(warm.get_bus_ttx(b, a), -ab);
        if (i % 50 == 0) {
            EXPECT_EQ(make("").get_bus_ttx(a, b), ab);
        }
    }
    const Instant ends[] = {{std::numeric_limits<std::int64_t>::min(), 0}, {std::numeric_limits<std::int64_t>::max(), 0},
                            at(-262144, 1, 1), at(262143, 12, 31, 23, 59, 59)};
    for (const Instant& a : ends) {
        for (const Instant& b : ends) EXPECT_TRUE(std::isfinite(warm.get_bus_ttx(a, b)));
    }
    // Local years -262145 and 262144 sit just beyond the UTC ones.
    EXPECT_NEAR(warm.get_bus_ttx(at(1970, 1, 1), ends[2]), -262144.0 - 1970.0, 1.0);
    EXPECT_NEAR(warm.get_bus_ttx(at(1970, 1, 1), ends[3]), 262144.0 - 1970.0, 1.0);
}

// ---- the per-year cache against the zone asked directly ----

// The embedded document with another zone.
Calendar embedded_in(const std::string& zone) {
    std::string text(tessel::calendar::embedded::documents[0].text, tessel::calendar::embedded::documents[0].size);
    const std::string from = "\"US/Eastern\"";
    text.replace(text.find(from), from.size(), "\"" + zone + "\"");
    return make(text);
}

cctz::time_zone zone_named(const std::string& name) { return tessel::calendar::load_zone(name).value(); }

// The coordinate from the formulas, with the offset asked of the zone for
// every instant and the dates from the civil-time arithmetic.
double reference_bus_time(const Calendar& cal, const cctz::time_zone& zone, const Instant& t) {
    const cctz::civil_second epoch(1970, 1, 1, 0, 0, 0);
    const std::int64_t offset = zone.lookup(cctz::time_point<cctz::seconds>{cctz::seconds(t.seconds)}).cs - (epoch + t.seconds);
    std::int64_t local;
    if (__builtin_add_overflow(t.seconds, offset, &local))
        local = t.seconds < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    const cctz::civil_second wall = epoch + local;
    const cctz::civil_day day(wall), jan1(day.year(), 1, 1);
    const int first = static_cast<int>(cctz::get_weekday(jan1));
    const auto span = [&](std::int64_t n) {
        double h = static_cast<double>(n / 7) * cal.week_weight();
        for (std::int64_t i = 0; i < n % 7; ++i) h += cal.day_weight(static_cast<int>((first + i) % 7));
        return h;
    };
    double p = span(day - jan1);
    if (const auto& c = cal.day_curve(static_cast<int>(cctz::get_weekday(day)))) {
        const double s = wall.hour() * 3600.0 + wall.minute() * 60.0 + wall.second();
        const auto k = std::min(static_cast<int>(std::floor(s / 900)), 95);
        p = p + (((*c)[k + 1] - (*c)[k]) * (std::fmod(s, 900) / 900) + (*c)[k]);
    }
    return static_cast<double>(day.year()) + p / span(cctz::civil_day(day.year() + 1, 1, 1) - jan1);
}

// Instants on both sides of every change of offset the zone's table names
// from 1800 on, around local new years and through the year far out (where
// the table has ended), and at the ends of the 64-bit range.
std::vector<Instant> probe_instants(const cctz::time_zone& zone) {
    std::vector<Instant> out;
    const auto add = [&](std::int64_t s) { out.push_back(Instant{s, static_cast<std::uint32_t>(out.size() % 3) * 400'000'000}); };
    auto tp = zone.lookup(cctz::civil_second(1800, 1, 1, 0, 0, 0)).pre;
    cctz::time_zone::civil_transition next;
    while (zone.next_transition(tp, &next) && next.from.year() < 3000) {
        tp = zone.lookup(next.to).trans;
        for (const std::int64_t d : {-86400, -3601, -3600, -1, 0, 1, 3599, 3600, 86399})
            add(tp.time_since_epoch().count() + d);
    }
    for (const int y : {-262144, -5000, 1, 1600, 1800, 1883, 1884, 1950, 2025, 2026, 2037, 2038, 2400, 2436, 2437,
                        2438, 2500, 3000, 10000, 262143}) {
        const std::int64_t s = zone.lookup(cctz::civil_second(y, 1, 1, 0, 0, 0)).pre.time_since_epoch().count();
        for (const std::int64_t d : {-86401, -1, 0, 1, 86400}) add(s + d);
        for (int m = 2; m <= 12; ++m) add(zone.lookup(cctz::civil_second(y, m, 15, 12, 0, 0)).pre.time_since_epoch().count());
    }
    const std::int64_t lo = std::numeric_limits<std::int64_t>::min(), hi = std::numeric_limits<std::int64_t>::max();
    const std::int64_t year = 366 * 86400;
    for (const std::int64_t s : {lo, lo + 1, lo + 400 * year, hi - 400 * year, hi - 1, hi}) add(s);
    return out;
}

class ZoneOffsets : public ::testing::TestWithParam<const char*> {};

TEST_P(ZoneOffsets, CachedYearsGiveTheZonesOwnOffsets) {
    const cctz::time_zone zone = zone_named(GetParam());
    Calendar cal = embedded_in(GetParam());
    std::vector<Instant> ts = probe_instants(zone);
    std::shuffle(ts.begin(), ts.end(), std::mt19937_64(7));
    const auto ref = [&](const Instant& t) { return reference_bus_time(cal, zone, t); };
    // Each instant against its neighbour in the shuffled order and against a
    // fixed expiry, in both directions, so the two arguments' years alternate
    // as in a pricing loop and each instant is met cold and warm.
    const Instant expiry = at(2026, 6, 26, 8);
    for (int round = 0; round < 2; ++round) {
        for (std::size_t i = 0; i < ts.size(); ++i) {
            const Instant& a = ts[i];
            const Instant& b = ts[(i + 1) % ts.size()];
            ASSERT_EQ(cal.get_bus_ttx(a, b), ref(b) - ref(a)) << a.seconds << " " << b.seconds;
            ASSERT_EQ(cal.get_bus_ttx(b, a), ref(a) - ref(b)) << a.seconds << " " << b.seconds;
            ASSERT_EQ(cal.get_bus_ttx(a, expiry), ref(expiry) - ref(a)) << a.seconds;
        }
    }
}

// New York with its table's ends (local mean time to 1883, rules from the
// table's last entry on); changes of 24 hours (Apia skipped 2011-12-30), of
// half an hour (Lord Howe), of two hours (Troll), four a year (Cairo 2010),
// negative daylight saving (Dublin); no changes after 1951 (Tokyo) or ever.
INSTANTIATE_TEST_SUITE_P(Zones, ZoneOffsets,
                         ::testing::Values("US/Eastern", "Pacific/Apia", "Australia/Lord_Howe", "Antarctica/Troll",
                                           "Africa/Cairo", "Africa/Casablanca", "Europe/Dublin", "Asia/Tokyo", "UTC"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '/', '_');
                             return name;
                         });

TEST(BusinessTime, AWarmCacheGivesWhatAColdOneGives) {
    Calendar cal = make("");
    // The four pairs of a pricing loop: within one offset, across a change of
    // offset, across a year end, across both; then years met in any order.
    const Instant pairs[4][2] = {{at(2025, 1, 10), at(2025, 2, 10)}, {at(2025, 1, 10), at(2025, 6, 10)},
                                 {at(2025, 12, 10), at(2026, 1, 10)}, {at(2025, 12, 10), at(2026, 6, 26)}};
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(cal.get_bus_ttx(pairs[i % 4][0], pairs[i % 4][1]),
                  make("").get_bus_ttx(pairs[i % 4][0], pairs[i % 4][1]));
    std::mt19937_64 rng(99);
    std::uniform_int_distribution<std::int64_t> secs(-4'000'000'000, 20'000'000'000);  // 1843 to 2603
    for (int i = 0; i < 3000; ++i) {
        const Instant a{secs(rng), 0}, b{secs(rng), 0};
        ASSERT_EQ(cal.get_bus_ttx(a, b), make("").get_bus_ttx(a, b)) << a.seconds << " " << b.seconds;
    }
    // Every year of a long stretch, newest first and then oldest first.
    for (std::int64_t y = 2600; y >= 1600; --y) cal.get_bus_ttx(at(y, 7, 1), at(2025, 1, 1));
    for (std::int64_t y = 1600; y <= 2600; y += 7)
        ASSERT_EQ(cal.get_bus_ttx(at(y, 3, 9, 7), at(2025, 1, 1)),
                  make("").get_bus_ttx(at(y, 3, 9, 7), at(2025, 1, 1)));
}

// The table keeps a bounded number of years: met in any order and far more
// of them, every year answers as in a calendar that never met another.
TEST(BusinessTime, YearsInAnyOrderAndNumberGiveWhatAColdCalendarGives) {
    const Calendar pristine = make("");
    Calendar warm = make("");
    const Instant expiry = at(2026, 6, 26, 8);
    // Mid-year on either side of the offset changes, and a UTC new year that
    // is still the old year on the local clock.
    const auto mid = [](std::int64_t y) { return at(y, 3 + static_cast<unsigned>((y % 9 + 9) % 9), 9, 7); };
    const auto eve = [](std::int64_t y) { return at(y, 1, 1, 3); };
    const auto check = [&](const Instant& a, const Instant& b) {
        ASSERT_EQ(warm.get_bus_ttx(a, b), Calendar(pristine).get_bus_ttx(a, b)) << a.seconds << " " << b.seconds;
    };
    std::vector<std::int64_t> run;  // three times the table's size
    for (std::int64_t y = -500; y <= 2600; ++y) run.push_back(y);
    std::vector<std::int64_t> one_slot;  // years 1024 apart share a slot
    for (std::int64_t k = -250; k <= 250; ++k) one_slot.push_back(2025 + 1024 * k);
    std::vector<std::int64_t> shuffled = run;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937_64(22));
    std::shuffle(one_slot.begin(), one_slot.end(), std::mt19937_64(23));
    std::vector<std::int64_t> descending(run.rbegin(), run.rend());
    for (const auto* years : {&run, &descending, &shuffled, &one_slot}) {
        for (const std::int64_t y : *years) {
            check(mid(y), expiry);
            check(eve(y), mid(y + 1024));  // both arguments' years in one slot
            check(mid(y - 1024), eve(y));
        }
    }
    for (const std::int64_t y : {-262144, -1, 0, 1970, 262143}) check(eve(y), mid(y));
}

// A copy owns its years outright, so copies of one calendar measure side by
// side on several threads without touching one another.
TEST(BusinessTime, CopiesMeasureInParallel) {
    Calendar warm = make("");
    for (std::int64_t y = 1900; y <= 2100; ++y) warm.get_bus_ttx(at(y, 6, 1), at(2025, 1, 1));
    std::mt19937_64 rng(5);
    std::uniform_int_distribution<std::int64_t> secs(-5'364'662'400, 20'000'000'000);  // 1800 to 2603
    std::vector<Instant> ts;
    for (int i = 0; i < 3000; ++i) ts.push_back(Instant{secs(rng), 0});
    std::vector<double> expected;
    Calendar alone = make("");
    for (std::size_t i = 0; i + 1 < ts.size(); ++i) expected.push_back(alone.get_bus_ttx(ts[i], ts[i + 1]));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Calendar mine = warm;
            for (int round = 0; round < 3; ++round) {
                for (std::size_t j = 0; j < expected.size(); ++j) {
                    const std::size_t i = (j * (2 * t + 1) + round) % expected.size();  // each its own order
                    if (mine.get_bus_ttx(ts[i], ts[i + 1]) != expected[i]) ++wrong;
                }
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(BusinessTime, CopiesGoTheirOwnWay) {
    Calendar warm = make("");
    const Instant a = at(2025, 12, 10), b = at(2026, 6, 26), c = at(1999, 7, 4, 16), d = at(2077, 3, 14, 7);
    const double ab = warm.get_bus_ttx(a, b);
    Calendar copy = warm;  // the years met so far, then a cache of its own
    EXPECT_EQ(copy.get_bus_ttx(c, d), make("").get_bus_ttx(c, d));
    EXPECT_EQ(warm.get_bus_ttx(a, b), ab);
    EXPECT_EQ(copy.get_bus_ttx(a, b), ab);
    warm = copy;
    EXPECT_EQ(warm.get_bus_ttx(d, c), -copy.get_bus_ttx(c, d));
}

TEST(CalendarTime, WholeSecondsTowardZero) {
    const double s = 1.0 / 31536000.0;
    EXPECT_EQ(Calendar::get_cal_ttx(at(2025, 1, 1), at(2025, 1, 1)), 0.0);
    EXPECT_EQ(Calendar::get_cal_ttx(at(2025, 1, 1), at(2025, 1, 2)), 86400.0 / 31536000.0);
    EXPECT_NEAR(Calendar::get_cal_ttx(at(2025, 1, 1), at(2025, 1, 2)), 0.00273973, 5e-9);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{10, 0}, Instant{11, 500'000'000}), s);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{11, 500'000'000}, Instant{10, 0}), -s);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{0, 600'000'000}, Instant{2, 500'000'000}), s);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{0, 500'000'000}, Instant{-1, 600'000'000}), 0.0);
    // A leap second's nanoseconds count in full.
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{0, 0}, Instant{59, 1'999'999'999}), 60 * s);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{59, 1'000'000'000}, Instant{60, 0}), 0.0);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{std::numeric_limits<std::int64_t>::min(), 0},
                                    Instant{std::numeric_limits<std::int64_t>::max(), 999'999'999}),
              18446744073709551616.0 / 31536000.0);
}

}  // namespace
