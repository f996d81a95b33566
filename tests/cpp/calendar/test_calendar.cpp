#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "calendar/calendar.hpp"
#include "calendar/embedded_docs.hpp"
#include "support.hpp"

namespace {

using calendar_test::at;
using calendar_test::document;
using tessel::Instant;
using tessel::calendar::Calendar;

constexpr int kMon = 0, kTue = 1, kFri = 4, kSat = 5, kSun = 6;
constexpr int EST = -5, EDT = -4;

Calendar make(const std::string& text) {
    auto r = Calendar::from_document(text);
    if (!r.ok()) ADD_FAILURE() << r.error().message << " for " << text;
    return std::move(r).value();
}

Calendar btc() {
    auto r = Calendar::create("BTCUSDT");
    if (!r.ok()) ADD_FAILURE() << r.error().message;
    return std::move(r).value();
}

std::string error_of(const std::string& text) {
    const auto r = Calendar::from_document(text);
    EXPECT_FALSE(r.ok()) << text;
    return r.ok() ? std::string() : r.error().message;
}

// ---------------------------------------------------------------- construction

TEST(CalendarCreate, OnlyTheEmbeddedUnderlying) {
    const auto r = Calendar::create("BTCUSDT");
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r.value().underlying(), "BTCUSDT");
    for (const char* name : {"btcusdt", " BTCUSDT", "BTCUSDT ", "ETHUSDT", ""}) {
        const auto bad = Calendar::create(name);
        ASSERT_FALSE(bad.ok()) << name;
        EXPECT_EQ(bad.error().message, std::string("No embedded calendar for underlying: ") + name);
    }
    EXPECT_EQ(make(document("{}", "{}")).underlying(), "");
}

TEST(CalendarCreate, ZoneMustBeInTheCompiledDatabase) {
    for (const char* zone : {"US/Eastern", "America/New_York", "UTC", "Etc/UTC", "EST5EDT"}) {
        EXPECT_TRUE(Calendar::from_document(document("{}", "{}", std::string("\"") + zone + "\"")).ok()) << zone;
    }
    // Names the zone library would make up on its own are not in the database.
    for (const char* zone : {"US/Eastrn", "us/eastern", " UTC", "UTC ", "", "Fixed/UTC+01:00:00", "localtime",
                             "../UTC", "/usr/share/zoneinfo/UTC"}) {
        EXPECT_EQ(error_of(document("{}", "{}", std::string("\"") + zone + "\"")),
                  std::string("Invalid IANA timezone: ") + zone);
    }
    // A document that does not parse fails before its zone is looked at.
    EXPECT_PRED2(calendar_test::starts_with, error_of(document("{}", "{}", "\"Nowhere\"") + "x"), "trailing characters");
}

TEST(CalendarCreate, WeekdayNamesByLowerCasing) {
    const Calendar cal = make(document(R"({"MONDAY": 1, "tUeSdAy": 2, "Sunday": 3, "m\u043Enday": 4,
                                          "monday ": 5, "Mon": 6, "FRIDAY": 7})", "{}"));
    EXPECT_EQ(cal.day_weight(kMon), 1.0);
    EXPECT_EQ(cal.day_weight(kTue), 2.0);
    EXPECT_EQ(cal.day_weight(kSun), 3.0);
    EXPECT_EQ(cal.day_weight(kFri), 7.0);
    EXPECT_EQ(cal.day_weight(2), 0.0);
    EXPECT_FALSE(cal.day_curve(2).has_value());
    EXPECT_EQ(cal.week_weight(), 13.0);
}

TEST(CalendarCreate, ProfileReadUnderTheVerySameKey) {
    const std::string profile = R"({"06:00 - 06:15": 1, "18:00 - 18:15": 3})";
    // Spelt differently: not read, the day is uniform.
    const Calendar uniform = make(document(R"({"Monday": 0.96})", "{\"monday\": " + profile + "}"));
    ASSERT_TRUE(uniform.day_curve(kMon).has_value());
    for (int k = 0; k <= 96; ++k) EXPECT_NEAR((*uniform.day_curve(kMon))[k], 0.01 * k, 1e-14) << k;

    const Calendar exact = make(document(R"({"Monday": 2})", "{\"Monday\": " + profile + "}"));
    const auto& c = *exact.day_curve(kMon);
    EXPECT_EQ(c[0], 0.0);
    EXPECT_EQ(c[24], 0.0);
    EXPECT_EQ(c[25], 0.5);
    EXPECT_EQ(c[72], 0.5);
    EXPECT_EQ(c[73], 2.0);
    EXPECT_EQ(c[96], 2.0);
}

TEST(CalendarCreate, NormalisesDividingFirst) {
    // (1 / 10) x 3 and (1 x 3) / 10 round differently.
    ASSERT_NE(0.1 * 3.0, 0.3);
    const Calendar cal = make(document(R"({"monday": 3})", R"({"monday": {"00:00 - 00:15": 1, "00:15 - 00:30": 9}})"));
    EXPECT_EQ((*cal.day_curve(kMon))[1], 0.1 * 3.0);
}

TEST(CalendarCreate, WeekdayWithoutDayWeightHasNoTable) {
    const Calendar cal = make(document(R"({"monday": 1})", R"({"tuesday": {"00:00 - 00:15": 1}})"));
    EXPECT_FALSE(cal.day_curve(kTue).has_value());
    EXPECT_EQ(cal.day_weight(kTue), 0.0);
    EXPECT_EQ(cal.week_weight(), 1.0);
}

TEST(CalendarCreate, ZeroSumDayKeepsItsWeight) {
    const Calendar cal = make(document(R"({"monday": 2})", R"({"monday": {"00:00 - 00:15": 0, "24:00 - 24:15": 5}})"));
    ASSERT_TRUE(cal.day_curve(kMon).has_value());
    for (const double v : *cal.day_curve(kMon)) EXPECT_EQ(v, 0.0);
    EXPECT_EQ(cal.day_weight(kMon), 2.0);
    EXPECT_EQ(cal.week_weight(), 2.0);
}

TEST(CalendarCreate, LaterEntriesWin) {
    // Duplicate bucket keys, two keys of one bucket, two names of one weekday,
    // duplicate profiles: the later one in the text stays.
    const Calendar a = make(document(
        R"({"Friday": 0.5, "friday": 0.9, "monday": 4, "monday": 1})",
        R"({"friday": {"09:30 - 09:45": 5, "09:30 - 09:45": 1, "09:37 - 09:52": 3, "10:00": 1},
            "monday": {"00:00 - 00:15": 1}, "monday": {"12:00 - 12:15": 1}})"));
    EXPECT_EQ(a.day_weight(kFri), 0.9);
    EXPECT_EQ((*a.day_curve(kFri))[39] - (*a.day_curve(kFri))[38], 0.75 * 0.9);
    EXPECT_EQ(a.day_weight(kMon), 1.0);
    EXPECT_EQ((*a.day_curve(kMon))[48], 0.0);
    EXPECT_EQ((*a.day_curve(kMon))[49], 1.0);

    const Calendar b = make(document(R"({"friday": 0.9, "Friday": 0.5})", "{}"));
    EXPECT_EQ(b.day_weight(kFri), 0.5);
}

// ----------------------------------------------------------- embedded calendar

TEST(EmbeddedCalendar, DayWeightsAndTables) {
    const Calendar cal = btc();
    const double days[7] = {1, 1, 1, 1, 0.9, 0.27, 0.53};
    for (int d = 0; d < 7; ++d) {
        EXPECT_EQ(cal.day_weight(d), days[d]);
        ASSERT_TRUE(cal.day_curve(d).has_value());
        EXPECT_EQ((*cal.day_curve(d))[0], 0.0);
        EXPECT_NEAR((*cal.day_curve(d))[96], days[d], 1e-14) << d;
    }
    EXPECT_NEAR(cal.week_weight(), 5.7, 1e-14);
    for (int d = 1; d < 4; ++d) EXPECT_EQ(*cal.day_curve(d), *cal.day_curve(kMon));
}

double step(const Calendar& cal, int day, int bucket) {
    return (*cal.day_curve(day))[bucket + 1] - (*cal.day_curve(day))[bucket];
}

TEST(EmbeddedCalendar, TellingRowsLandInTheirBuckets) {
    const Calendar cal = btc();
    struct Row {
        int bucket;
        double mon, fri, sat, sun;
    };
    const Row rows[] = {
        {0, 9.296884883729719, 9.03011625564374, 4.130380629396172, 3.6250555848397292},
        {3, 7.700336881135465, 8.514278256870625, 3.263553788601789, 3.3449296828536075},
        {38, 62.52174476139236, 63.55522673841343, 6.567933905746908, 9.92808486907062},
        {45, 34.58465026582505, 37.2267946460433, 7.856570316929013, 11.485036325987172},
        {64, 25.25906610633516, 18.235765711161214, 4.7558711479340605, 10.445227678921222},
        {72, 18.371145796496613, 11.502540257094058, 6.279044703992892, 30.747213458006772},
        {95, 8.026578187108981, 3.7397808633153513, 3.551490030261413, 8.649675868915342},
    };
    // Ratios of normalised steps are ratios of the stored weights.
    for (const Row& r : rows) {
        EXPECT_NEAR(step(cal, kMon, r.bucket) / step(cal, kMon, 0), r.mon / rows[0].mon, 1e-9) << r.bucket;
        EXPECT_NEAR(step(cal, kFri, r.bucket) / step(cal, kFri, 0), r.fri / rows[0].fri, 1e-9) << r.bucket;
        EXPECT_NEAR(step(cal, kSat, r.bucket) / step(cal, kSat, 0), r.sat / rows[0].sat, 1e-9) << r.bucket;
        EXPECT_NEAR(step(cal, kSun, r.bucket) / step(cal, kSun, 0), r.sun / rows[0].sun, 1e-9) << r.bucket;
    }
    struct Extremes {
        int day, smallest, largest;
    };
    for (const Extremes& e : {Extremes{kMon, 3, 38}, Extremes{kFri, 95, 38}, Extremes{kSat, 3, 45}, Extremes{kSun, 9, 72}}) {
        int lo = 0, hi = 0;
        for (int k = 0; k < 96; ++k) {
            EXPECT_GT(step(cal, e.day, k), 0.0);
            if (step(cal, e.day, k) < step(cal, e.day, lo)) lo = k;
            if (step(cal, e.day, k) > step(cal, e.day, hi)) hi = k;
        }
        EXPECT_EQ(lo, e.smallest) << e.day;
        EXPECT_EQ(hi, e.largest) << e.day;
    }
}

// --------------------------------------------------------------- trading time

TEST(BusinessTime, YearWeights) {
    Calendar cal = btc();
    EXPECT_NEAR(cal.year_weight(2023), 296.93, 1e-10);  // 1 January a Sunday
    EXPECT_NEAR(cal.year_weight(2024), 298.4, 1e-10);   // leap year, 1 January a Monday
    EXPECT_NEAR(cal.year_weight(2025), 297.4, 1e-10);   // 1 January a Wednesday
    // Whole weeks are multiplied, then the remaining days added one by one.
    EXPECT_EQ(cal.year_weight(2023), 52.0 * cal.week_weight() + 0.53);
    EXPECT_EQ(cal.year_weight(2024), 52.0 * cal.week_weight() + 1.0 + 1.0);
    EXPECT_EQ(cal.year_weight(2025), 52.0 * cal.week_weight() + 1.0);
    // 2000 (leap, Saturday), 1900 (common, Monday), 1 BC = year 0 (leap, Saturday).
    EXPECT_EQ(cal.year_weight(2000), 52.0 * cal.week_weight() + 0.27 + 0.53);
    EXPECT_EQ(cal.year_weight(1900), 52.0 * cal.week_weight() + 1.0);
    EXPECT_EQ(cal.year_weight(0), 52.0 * cal.week_weight() + 0.27 + 0.53);
}

struct Span {
    const char* name;
    Instant from, to;
    double expected;
};

class WorkedSpan : public ::testing::TestWithParam<Span> {};

TEST_P(WorkedSpan, MatchesTheTable) {
    Calendar cal = btc();
    const Span& s = GetParam();
    // The coordinates are near 2025, where one ulp is 2.3e-13.
    EXPECT_NEAR(cal.get_bus_ttx(s.from, s.to), s.expected, 2e-12);
    EXPECT_EQ(cal.get_bus_ttx(s.to, s.from), -cal.get_bus_ttx(s.from, s.to));
}

INSTANTIATE_TEST_SUITE_P(
    Embedded, WorkedSpan,
    ::testing::Values(Span{"Week", at(2025, 1, 6, 0, 0, 0, EST), at(2025, 1, 13, 0, 0, 0, EST), 5.7 / 297.4},
                      Span{"Monday", at(2025, 1, 6, 0, 0, 0, EST), at(2025, 1, 7, 0, 0, 0, EST), 1 / 297.4},
                      Span{"Saturday", at(2025, 1, 11, 0, 0, 0, EST), at(2025, 1, 12, 0, 0, 0, EST), 0.27 / 297.4},
                      Span{"YearEnd", at(2024, 12, 31, 0, 0, 0, EST), at(2025, 1, 1, 0, 0, 0, EST), 1 / 298.4},
                      Span{"FallBack", at(2025, 11, 2, 5, 30), at(2025, 11, 2, 6, 30), 0.0},
                      Span{"Same", at(2025, 5, 5, 12, 34, 56), at(2025, 5, 5, 12, 34, 56), 0.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BusinessTime, TableDecimals) {
    Calendar cal = btc();
    EXPECT_NEAR(cal.get_bus_ttx(at(2025, 1, 6, 0, 0, 0, EST), at(2025, 1, 13, 0, 0, 0, EST)), 0.0191661, 5e-8);
    EXPECT_NEAR(cal.get_bus_ttx(at(2025, 1, 6, 0, 0, 0, EST), at(2025, 1, 7, 0, 0, 0, EST)), 0.00336247, 5e-9);
    EXPECT_NEAR(cal.get_bus_ttx(at(2025, 1, 11, 0, 0, 0, EST), at(2025, 1, 12, 0, 0, 0, EST)), 0.000907868, 5e-10);
    EXPECT_NEAR(cal.get_bus_ttx(at(2024, 12, 31, 0, 0, 0, EST), at(2025, 1, 1, 0, 0, 0, EST)), 0.00335121, 5e-9);
}

TEST(BusinessTime, LocalNewYearIsTheYearExactly) {
    Calendar cal = btc();
    // New York kept local mean time, 4:56:02 behind UTC, until November 1883.
    const auto new_year = [](int y) { return y <= 1883 ? at(y, 1, 1, 4, 56, 2) : at(y, 1, 1, 0, 0, 0, EST); };
    for (const int y : {-1, 0, 1880, 1899, 1970, 2023, 2024, 2025, 2100, 9999}) {
        EXPECT_EQ(cal.get_bus_ttx(new_year(y), new_year(y + 1)), 1.0) << y;
        EXPECT_EQ(cal.get_bus_ttx(new_year(y), new_year(y + 3)), 3.0) << y;
        const double last_second = cal.get_bus_ttx(Instant{new_year(y).seconds - 1, 0}, new_year(y));
        EXPECT_GT(last_second, 0.0) << y;
        EXPECT_LT(last_second, 1e-5) << y;
    }
}

// The raw Sunday weights of the 01:45 bucket and the 02:00 hour, read from the
// stored text without the document reader.
double sunday_weight_01_59_to_03_00() {
    const std::string_view text(tessel::calendar::docs::documents[0].text, tessel::calendar::docs::documents[0].size);
    const std::size_t sunday = text.find("\"sunday\": {", text.find("\"TimeWeightings\""));
    double w[96];
    double total = 0.0;
    std::size_t pos = sunday;
    for (int j = 0; j < 96; ++j) {
        pos = text.find("\": ", text.find(" - ", pos)) + 3;
        w[j] = std::strtod(text.data() + pos, nullptr);
        total += w[j];
    }
    return (w[7] / 15 + w[8] + w[9] + w[10] + w[11]) / total * 0.53;
}

TEST(BusinessTime, SpringForwardPassesTheSkippedHourInNoTime) {
    Calendar cal = btc();
    const Instant before = at(2025, 3, 9, 1, 59, 0, EST);
    const Instant after = at(2025, 3, 9, 3, 0, 0, EDT);
    ASSERT_EQ(after.seconds - before.seconds, 60);
    EXPECT_NEAR(cal.get_bus_ttx(before, after), sunday_weight_01_59_to_03_00() / 297.4, 2e-12);
}

TEST(BusinessTime, FallBackRepeatsTheHour) {
    Calendar cal = btc();
    // 01:59:59 daylight time and 01:59:59 standard time.
    const Instant first = at(2025, 11, 2, 1, 59, 59, EDT);
    const Instant second = at(2025, 11, 2, 1, 59, 59, EST);
    const Instant change = at(2025, 11, 2, 1, 0, 0, EST);
    EXPECT_EQ(cal.get_bus_ttx(first, second), 0.0);
    EXPECT_LT(cal.get_bus_ttx(first, change), 0.0);
    EXPECT_EQ(cal.get_bus_ttx(first, change), -cal.get_bus_ttx(change, second));
}

TEST(BusinessTime, SubSecondPartsAreIgnored) {
    Calendar cal = btc();
    const Instant t = at(2025, 6, 2, 14, 0, 59);
    for (const std::uint32_t n : {1u, 500'000'000u, 999'999'999u, 1'000'000'000u, 1'999'999'999u}) {
        EXPECT_EQ(cal.get_bus_ttx(t, Instant{t.seconds, n}), 0.0) << n;
    }
}

TEST(BusinessTime, IntradayInterpolation) {
    // UTC, uniform Monday of 0.96 and nothing else: 0.01 per quarter hour.
    Calendar cal = make(document(R"({"monday": 0.96})", "{}"));
    const double w = 52 * 0.96 + 0.96;  // 2024 starts on a Monday
    EXPECT_EQ(cal.year_weight(2024), w);
    const Instant monday = at(2024, 1, 8);
    // Coordinates near 2024 resolve differences to about 2.3e-13.
    EXPECT_NEAR(cal.get_bus_ttx(monday, at(2024, 1, 8, 0, 7, 30)), 0.005 / w, 5e-13);
    EXPECT_NEAR(cal.get_bus_ttx(monday, at(2024, 1, 8, 23, 59, 59)), (0.96 - 0.01 / 900) / w, 5e-13);
    EXPECT_NEAR(cal.get_bus_ttx(monday, at(2024, 1, 9)), 0.96 / w, 5e-13);
    // The other days stand still.
    EXPECT_EQ(cal.get_bus_ttx(at(2024, 1, 9), at(2024, 1, 14, 23, 59, 59)), 0.0);
}

TEST(BusinessTime, ZeroSumDayStandsStillThenJumps) {
    Calendar cal = make(document(R"({"monday": 2, "tuesday": 1})", R"({"monday": {"00:00 - 00:15": 0}})"));
    const double w = cal.year_weight(2024);
    EXPECT_EQ(w, 52 * 3.0 + 2.0 + 1.0);
    EXPECT_EQ(cal.get_bus_ttx(at(2024, 1, 8), at(2024, 1, 8, 23, 59, 59)), 0.0);
    EXPECT_NEAR(cal.get_bus_ttx(at(2024, 1, 8, 23, 59, 59), at(2024, 1, 9)), 2.0 / w, 5e-13);
}

TEST(BusinessTime, ZeroWeightsGiveNaN) {
    Calendar cal = make(document(R"({"monday": 0})", "{}"));
    EXPECT_TRUE(std::isnan(cal.get_bus_ttx(at(2024, 1, 8), at(2024, 1, 9))));
}

TEST(BusinessTime, AntisymmetricAndCacheTransparent) {
    Calendar warm = btc();
    std::mt19937_64 rng(12345);
    // 1800 to 2200, in seconds.
    std::uniform_int_distribution<std::int64_t> secs(-5'364'662'400, 7'258'118'400);
    for (int i = 0; i < 2000; ++i) {
        const Instant a{secs(rng), static_cast<std::uint32_t>(rng() % 1'000'000'000)};
        const Instant b{secs(rng), 0};
        const double ab = warm.get_bus_ttx(a, b);
        EXPECT_EQ(warm.get_bus_ttx(b, a), -ab);
        if (i % 50 == 0) {
            Calendar fresh = btc();
            EXPECT_EQ(fresh.get_bus_ttx(a, b), ab);
        }
    }
}

TEST(BusinessTime, ExtremeInstantsAreSafe) {
    Calendar cal = btc();
    const Instant extremes[] = {{std::numeric_limits<std::int64_t>::min(), 0},
                                {std::numeric_limits<std::int64_t>::max(), 999'999'999},
                                at(-262144, 1, 1),
                                at(262143, 12, 31, 23, 59, 59)};
    for (const Instant& a : extremes) {
        for (const Instant& b : extremes) {
            const double v = cal.get_bus_ttx(a, b);
            EXPECT_TRUE(std::isfinite(v));
            EXPECT_EQ(cal.get_bus_ttx(b, a), -v);
        }
    }
    // Local year -262145 starts in UTC year -262144, and 262144 in 262143 at
    // the latest: the coordinates stay within a year of the UTC year.
    EXPECT_NEAR(cal.get_bus_ttx(at(1970, 1, 1), at(-262144, 1, 1)), -262144.0 - 1970.0, 1.0);
    EXPECT_NEAR(cal.get_bus_ttx(at(1970, 1, 1), at(262143, 12, 31, 23, 59, 59)), 262144.0 - 1970.0, 1.0);
}

// -------------------------------------------------------------- calendar time

TEST(CalendarTime, WholeSecondsTowardZero) {
    const Instant t = at(2025, 1, 1);
    EXPECT_EQ(Calendar::get_cal_ttx(t, t), 0.0);
    EXPECT_EQ(Calendar::get_cal_ttx(t, at(2025, 1, 2)), 86400.0 / 31536000.0);
    EXPECT_NEAR(Calendar::get_cal_ttx(t, at(2025, 1, 2)), 0.00273973, 5e-9);
    const Instant later{t.seconds + 1, 500'000'000};
    EXPECT_EQ(Calendar::get_cal_ttx(t, later), 1.0 / 31536000.0);
    EXPECT_EQ(Calendar::get_cal_ttx(later, t), -1.0 / 31536000.0);
    // Nanoseconds borrow from the seconds before the truncation.
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{0, 600'000'000}, Instant{2, 500'000'000}), 1.0 / 31536000.0);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{0, 500'000'000}, Instant{-1, 600'000'000}), 0.0);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{0, 999'999'999}, Instant{0, 0}), 0.0);
    // A leap second's nanoseconds count in full.
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{0, 0}, Instant{59, 1'000'000'000}), 60.0 / 31536000.0);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{0, 0}, Instant{59, 1'999'999'999}), 60.0 / 31536000.0);
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{59, 1'000'000'000}, Instant{60, 0}), 0.0);
    // No overflow across the whole 64-bit range.
    EXPECT_EQ(Calendar::get_cal_ttx(Instant{std::numeric_limits<std::int64_t>::min(), 0},
                                    Instant{std::numeric_limits<std::int64_t>::max(), 999'999'999}),
              18446744073709551616.0 / 31536000.0);
}

}  // namespace
