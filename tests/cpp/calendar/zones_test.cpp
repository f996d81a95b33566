#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "calendar/tzdb.hpp"
#include "calendar/zones.hpp"
#include "support.hpp"

namespace {

using tessel::calendar::load_zone;

int offset_at(const cctz::time_zone& zone, const tessel::Instant& t) {
    return zone.lookup(cctz::time_point<cctz::seconds>(cctz::seconds(t.seconds))).offset;
}

TEST(Zones, ServedFromTheCompiledDatabaseOnly) {
    // With the library's own file lookup pointed nowhere, zones still load.
    ::setenv("TZDIR", "/nonexistent", 1);
    ::setenv("TZ", "Asia/Tokyo", 1);
    tessel::calendar::install_embedded_zoneinfo();
    tessel::calendar::install_embedded_zoneinfo();
    const auto kathmandu = load_zone("Asia/Kathmandu");
    ASSERT_TRUE(kathmandu.ok()) << kathmandu.error().message;
    EXPECT_EQ(offset_at(kathmandu.value(), calendar_test::at(2025, 6, 1)), 5 * 3600 + 45 * 60);
    const auto eastern = load_zone("US/Eastern");
    ASSERT_TRUE(eastern.ok());
    EXPECT_EQ(offset_at(eastern.value(), calendar_test::at(2025, 1, 15)), -5 * 3600);
    EXPECT_EQ(offset_at(eastern.value(), calendar_test::at(2025, 7, 15)), -4 * 3600);
    // Daylight saving ends at 06:00 UTC on 2025-11-02.
    EXPECT_EQ(offset_at(eastern.value(), calendar_test::at(2025, 11, 2, 5, 59, 59)), -4 * 3600);
    EXPECT_EQ(offset_at(eastern.value(), calendar_test::at(2025, 11, 2, 6)), -5 * 3600);
    ::unsetenv("TZDIR");
    ::unsetenv("TZ");
}

TEST(Zones, EveryTableEntryLoads) {
    ASSERT_GT(tessel::calendar::tzdb::entry_count, 0u);
    for (std::size_t i = 0; i < tessel::calendar::tzdb::entry_count; ++i) {
        const char* name = tessel::calendar::tzdb::entries[i].name;
        EXPECT_TRUE(load_zone(name).ok()) << name;
        if (i > 0) {
            EXPECT_LT(std::string(tessel::calendar::tzdb::entries[i - 1].name), std::string(name));
        }
    }
}

TEST(Zones, UnknownNames) {
    for (const char* name : {"", "us/eastern", "US/Eastern ", "Fixed/UTC+01:00:00", "Fixed/UTC", "localtime",
                             "/etc/localtime", "US", "US/", "Zulu/"}) {
        const auto r = load_zone(name);
        ASSERT_FALSE(r.ok()) << name;
        EXPECT_EQ(r.error().message, std::string("Invalid IANA timezone: ") + name);
    }
}

}  // namespace
