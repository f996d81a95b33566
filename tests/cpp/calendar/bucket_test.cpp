#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "calendar/bucket.hpp"

namespace {

using tessel::calendar::bucket_of;
using Case = std::pair<std::string, std::optional<unsigned>>;

class BucketKey : public ::testing::TestWithParam<Case> {};

TEST_P(BucketKey, ReadsTheStartLeniently) { EXPECT_EQ(bucket_of(GetParam().first), GetParam().second) << GetParam().first; }

constexpr std::nullopt_t skip = std::nullopt;

INSTANTIATE_TEST_SUITE_P(
    Keys, BucketKey,
    ::testing::Values(
        Case{"00:00 - 00:15", 0}, Case{"09:30 - 09:45", 38}, Case{"23:45 - 00:00", 95}, Case{"9:5 - 9:20", 36},
        Case{"+09:+30", 38}, Case{"09:37 - 09:52", 38}, Case{"abc", 0}, Case{"", 0}, Case{"-", 0},
        Case{"9", 36} /* no minutes */, Case{":30", 2}, Case{"+:30", 2}, Case{"++09:30", 2}, Case{"09:30:99", 38},
        Case{"09:-30", 36} /* cut at the hyphen */, Case{"9 :30", 2} /* fields untrimmed */, Case{"09:3x", 36},
        Case{"٠٩:30", 2}, Case{"18446744073709551616:30", 2} /* overflow reads 0 */,
        Case{"307445734561825861:00", 2} /* 60 x hours wraps to 44 */,
        // Unicode White_Space is trimmed, other invisible characters are not.
        Case{"\t\r\n09:30\v\f- x", 38}, Case{"\u00A0\u008509:30\u00A0", 38}, Case{"\u1680\u2000\u200A09:30\u2028\u2029", 38},
        Case{"\u202F\u205F\u300009:30\u3000", 38}, Case{"\u200B09:30", 2}, Case{"\x1C" "09:30", 2}, Case{"09:30\u200B", 36},
        Case{"24:00 - 24:15", skip}, Case{"23:60 - 00:15", skip}, Case{"0:1440", skip}, Case{"0930", skip},
        Case{"18446744073709551615:00", skip}));

// Every two-digit start, stored form and forms the rule reads alike.
TEST(BucketKeyGrid, EveryTwoDigitStart) {
    for (int h = 0; h < 100; ++h) {
        for (int m = 0; m < 100; ++m) {
            const std::string t = {static_cast<char>('0' + h / 10), static_cast<char>('0' + h % 10), ':',
                                   static_cast<char>('0' + m / 10), static_cast<char>('0' + m % 10)};
            const int minute = h * 60 + m;
            const auto expected = minute >= 1440 ? std::nullopt : std::optional<unsigned>(minute / 15);
            for (const std::string& key : {t + " - 00:15", t, t + "-", t + "  - x", std::string(" ").append(t) + " -",
                                           t + ":00", std::string("+").append(t)}) {
                ASSERT_EQ(bucket_of(key), expected) << key;
            }
        }
    }
}

}  // namespace
