#include "core/instant.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

namespace tessel {
namespace {

constexpr std::int64_t MAX_SECONDS = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t MIN_SECONDS = std::numeric_limits<std::int64_t>::min();

struct StampCase {
    double stamp;
    std::int64_t seconds;
    std::uint32_t nanos;
};

class FromTimestamp : public ::testing::TestWithParam<StampCase> {};

TEST_P(FromTimestamp, FloorsTheSecondsAndRoundsTheFraction) {
    const StampCase& c = GetParam();
    const std::optional<Instant> t = instant_from_timestamp(c.stamp);
    ASSERT_TRUE(t.has_value()) << c.stamp;
    EXPECT_EQ(t->seconds, c.seconds) << c.stamp;
    EXPECT_EQ(t->nanos, c.nanos) << c.stamp;
}

INSTANTIATE_TEST_SUITE_P(
    Stamps, FromTimestamp,
    ::testing::Values(StampCase{0.0, 0, 0}, StampCase{-0.0, 0, 0}, StampCase{1.25, 1, 250'000'000},
                      StampCase{-1.5, -2, 500'000'000}, StampCase{-0.9999999999, -1, 0},
                      // A fraction that rounds to the whole second carries into it.
                      StampCase{-1e-10, 0, 0}, StampCase{-5e-324, 0, 0}, StampCase{-4.9e-10, 0, 0},
                      StampCase{-1.0000000001, -1, 0}, StampCase{-60.0000000001, -60, 0},
                      // Not so after 1970: second 59 takes it as a leap second.
                      StampCase{59.9999999999, 59, 1'000'000'000},
                      StampCase{std::nan(""), 0, 0}));

TEST(FromTimestamp, RefusesAWholeSecondFractionOffTheFiftyNinthSecond) {
    EXPECT_FALSE(instant_from_timestamp(58.9999999999));
    EXPECT_FALSE(instant_from_timestamp(1e300));
    EXPECT_FALSE(instant_from_timestamp(-1e300));
    EXPECT_FALSE(instant_from_timestamp(-std::numeric_limits<double>::infinity()));
}

TEST(FromParts, AcceptsWhatTimestampsGiveAndNothingElse) {
    for (const double stamp : {0.0, -1e-10, -1.5, 59.9999999999, 1735689600.123456789, -8e12, 8e12}) {
        const Instant t = *instant_from_timestamp(stamp);
        EXPECT_EQ(instant_from_parts(t.seconds, t.nanos), t) << stamp;
    }
    EXPECT_FALSE(instant_from_parts(0, -1));
    EXPECT_FALSE(instant_from_parts(0, 1'000'000'000));            // leap nanoseconds off second 59
    EXPECT_FALSE(instant_from_parts(59, 2'000'000'000));           // beyond a leap second
    EXPECT_TRUE(instant_from_parts(-1, 1'999'999'999));            // 23:59:59 of 1969-12-31
    EXPECT_FALSE(instant_from_parts(MAX_SECONDS, 0));
    EXPECT_FALSE(instant_from_parts(MIN_SECONDS, 0));
    EXPECT_FALSE(instant_from_parts(1LL << 62, 0));
}

TEST(FromParts, HasTheDateRangeOfTimestamps) {
    // 262143-12-31T23:59:59 and -262144-01-01T00:00:00.
    constexpr std::int64_t last = 8210298412799;
    constexpr std::int64_t first = -8334632851200;
    EXPECT_TRUE(instant_from_parts(last, 0));
    EXPECT_FALSE(instant_from_parts(last + 1, 0));
    EXPECT_TRUE(instant_from_parts(first, 0));
    EXPECT_FALSE(instant_from_parts(first - 1, 0));
}

}  // namespace
}  // namespace tessel
