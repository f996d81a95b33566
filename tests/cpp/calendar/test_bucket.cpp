#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "calendar/bucket.hpp"

namespace {

using tessel::calendar::bucket_of;

struct BucketCase {
    std::string key;
    std::optional<unsigned> bucket;
};

class BucketKey : public ::testing::TestWithParam<BucketCase> {};

TEST_P(BucketKey, ReadsStartTimeLeniently) {
    EXPECT_EQ(bucket_of(GetParam().key), GetParam().bucket) << "key: " << GetParam().key;
}

INSTANTIATE_TEST_SUITE_P(
    DocumentForm, BucketKey,
    ::testing::Values(BucketCase{"00:00 - 00:15", 0u}, BucketCase{"00:45 - 01:00", 3u},
                      BucketCase{"09:30 - 09:45", 38u}, BucketCase{"11:15 - 11:30", 45u},
                      BucketCase{"18:00 - 18:15", 72u}, BucketCase{"23:45 - 00:00", 95u}));

INSTANTIATE_TEST_SUITE_P(
    Lenient, BucketKey,
    ::testing::Values(BucketCase{"9:5 - 9:20", 36u}, BucketCase{"+09:+30", 38u},
                      BucketCase{"09:37 - 09:52", 38u}, BucketCase{"23:59", 95u},
                      BucketCase{"abc", 0u}, BucketCase{"", 0u}, BucketCase{"-", 0u},
                      BucketCase{"9", 36u},                 // no colon: minutes absent
                      BucketCase{":30", 2u},                // empty hours
                      BucketCase{"+:30", 2u},               // a sign without digits
                      BucketCase{"09:30:99", 38u},          // a third field is ignored
                      BucketCase{"09:-30", 36u},            // cut at the first hyphen
                      BucketCase{"9 :30", 2u},              // fields are not trimmed
                      BucketCase{"09:3x", 36u},             // unreadable minutes
                      BucketCase{"٠٩:30", 2u},              // non-ASCII digits
                      BucketCase{"++09:30", 2u},            // one sign only
                      BucketCase{"18446744073709551616:30", 2u},   // hours overflow 64 bits
                      BucketCase{"307445734561825861:00", 2u}));   // 60 x hours wraps to 44

INSTANTIATE_TEST_SUITE_P(
    WhiteSpace, BucketKey,
    ::testing::Values(BucketCase{" 09:30 - 09:45", 38u}, BucketCase{"\t\r\n09:30\v\f- x", 38u},
                      BucketCase{"\u00A009:30\u00A0", 38u}, BucketCase{"\u008509:30", 38u},
                      BucketCase{"\u1680\u2000\u200A09:30\u2028\u2029", 38u},
                      BucketCase{"\u202F\u205F\u300009:30\u3000", 38u},
                      BucketCase{"\u200B09:30", 2u},  // zero-width space is no White_Space
                      BucketCase{"\x1C" "09:30", 2u},  // nor is the file separator
                      BucketCase{"09:30\u200B", 36u}));

INSTANTIATE_TEST_SUITE_P(
    Skipped, BucketKey,
    ::testing::Values(BucketCase{"24:00 - 24:15", std::nullopt}, BucketCase{"23:60 - 00:15", std::nullopt},
                      BucketCase{"0:1440", std::nullopt}, BucketCase{"0930", std::nullopt},
                      BucketCase{"18446744073709551615:00", std::nullopt}));

}  // namespace
