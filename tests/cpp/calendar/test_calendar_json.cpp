#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calendar/calendar_json.hpp"
#include "support.hpp"

namespace {

using calendar_test::document;
using tessel::calendar::CalendarJson;
using tessel::calendar::parse_calendar_json;

const std::string kDays = R"({"monday": 1, "sunday": 0.5})";
const std::string kProfiles = R"({"monday": {"09:30 - 09:45": 2, "09:45 - 10:00": 3}})";

std::string error_of(const std::string& text) {
    const auto r = parse_calendar_json(text);
    EXPECT_FALSE(r.ok()) << text;
    return r.ok() ? std::string() : r.error().message;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(CalendarJsonRead, FieldsInEveryOrder) {
    std::vector<std::string> members = {"\"DayWeightings\": " + kDays, "\"TimeWeightings\": " + kProfiles,
                                        "\"IanaTimeZone\": \"US/Eastern\""};
    std::sort(members.begin(), members.end());
    do {
        const std::string text = "{" + members[0] + ",\r\n" + members[1] + ",\t" + members[2] + "}";
        const auto r = parse_calendar_json(text);
        ASSERT_TRUE(r.ok()) << text << ": " << r.error().message;
        const CalendarJson& doc = r.value();
        ASSERT_EQ(doc.day_weightings.size(), 2u);
        EXPECT_EQ(doc.day_weightings[0].first, "monday");
        EXPECT_EQ(doc.day_weightings[0].second, 1.0);
        EXPECT_EQ(doc.day_weightings[1].first, "sunday");
        EXPECT_EQ(doc.day_weightings[1].second, 0.5);
        ASSERT_EQ(doc.time_weightings.size(), 1u);
        EXPECT_EQ(doc.time_weightings[0].first, "monday");
        ASSERT_EQ(doc.time_weightings[0].second.size(), 2u);
        EXPECT_EQ(doc.time_weightings[0].second[1].first, "09:45 - 10:00");
        EXPECT_EQ(doc.time_weightings[0].second[1].second, 3.0);
        EXPECT_EQ(doc.iana_time_zone, "US/Eastern");
    } while (std::next_permutation(members.begin(), members.end()));
}

TEST(CalendarJsonRead, KeysAreUnescapedAndMatchedExactly) {
    const auto r = parse_calendar_json(R"({"Day\u0057eightings": {"a\"b": 1}, "TimeWeightings": {},
                                          "IanaTimeZone": "Europe\/Paris"})");
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r.value().day_weightings[0].first, "a\"b");
    EXPECT_EQ(r.value().iana_time_zone, "Europe/Paris");
    // Matching is case-sensitive: a differently cased key is just unknown.
    EXPECT_PRED2(calendar_test::starts_with, error_of(R"({"dayWeightings": {}, "TimeWeightings": {}, "IanaTimeZone": "UTC"})"), "missing field `DayWeightings`");
}

class UnknownMember : public ::testing::TestWithParam<std::string> {};

TEST_P(UnknownMember, IsSkippedWhateverItsType) {
    for (const std::string& text : {document(kDays, kProfiles, "\"UTC\"", "\"Comment\": " + GetParam() + ", "),
                                    "{\"DayWeightings\": " + kDays + ", \"x\": " + GetParam() +
                                        ", \"TimeWeightings\": " + kProfiles + ", \"IanaTimeZone\": \"UTC\"}",
                                    "{\"DayWeightings\": " + kDays + ", \"TimeWeightings\": " + kProfiles +
                                        ", \"IanaTimeZone\": \"UTC\", \"y\": " + GetParam() + "}"}) {
        const auto r = parse_calendar_json(text);
        ASSERT_TRUE(r.ok()) << text << ": " << r.error().message;
        ASSERT_EQ(r.value().day_weightings.size(), 2u);
        EXPECT_EQ(r.value().day_weightings[1].second, 0.5);
        EXPECT_EQ(r.value().time_weightings[0].second[1].second, 3.0);
        EXPECT_EQ(r.value().iana_time_zone, "UTC");
    }
}

INSTANTIATE_TEST_SUITE_P(JsonTypes, UnknownMember,
                         ::testing::Values("\"text\"", "42", "-0", "1e400", "123456789012345678901234567890", "true",
                                           "false", "null", "[]", "{}", "[1, \"a\", [null, 2e999], {\"k\": -0}]",
                                           "{\"TimeWeightings\": 5, \"DayWeightings\": \"x\"}"));

TEST(CalendarJsonRead, DuplicateTopLevelFieldIsAnError) {
    for (const char* name : {"TimeWeightings", "DayWeightings", "IanaTimeZone"}) {
        const std::string again = std::string("\"") + name + "\": " +
                                  (std::strcmp(name, "IanaTimeZone") == 0 ? "\"UTC\"" : "{}") + ", ";
        EXPECT_PRED2(calendar_test::starts_with, error_of(document(kDays, kProfiles, "\"UTC\"", again)), std::string("duplicate field `") + name + "`");
    }
    // The second occurrence is found even with unknown members in between,
    // and its position is reported.
    EXPECT_EQ(error_of("{\"IanaTimeZone\": \"UTC\",\n \"Comment\": {\"IanaTimeZone\": 1},\n  \"IanaTimeZone\": 3}"),
              "duplicate field `IanaTimeZone` at line 3 column 16");
}

TEST(CalendarJsonRead, MissingFieldNamesTheFirstInFieldOrder) {
    const std::string tw = "\"TimeWeightings\": {}";
    const std::string dw = "\"DayWeightings\": {}";
    const std::string tz = "\"IanaTimeZone\": \"UTC\"";
    struct Case {
        std::string text;
        const char* missing;
    };
    for (const Case& c : {Case{"{}", "TimeWeightings"}, Case{"{" + tz + "}", "TimeWeightings"},
                          Case{"{" + tz + "," + dw + "}", "TimeWeightings"}, Case{"{" + tz + "," + tw + "}", "DayWeightings"},
                          Case{"{" + tw + "}", "DayWeightings"}, Case{"{" + dw + "," + tw + "}", "IanaTimeZone"}}) {
        EXPECT_PRED2(calendar_test::starts_with, error_of(c.text), std::string("missing field `") + c.missing + "`") << c.text;
    }
    EXPECT_EQ(error_of("{\r\n  \"Other\": 1\r\n}\r\n"), "missing field `TimeWeightings` at line 3 column 1");
}

TEST(CalendarJsonRead, WrongTypesAreErrors) {
    for (const std::string& text :
         {document(R"({"monday": "1"})", "{}"), document(R"({"monday": null})", "{}"),
          document(R"({"monday": true})", "{}"), document(R"({"monday": [1]})", "{}"),
          document(R"({"monday": {}})", "{}"), document("[]", "{}"), document("{}", R"({"monday": 1})"),
          document("{}", R"({"monday": {"00:00 - 00:15": "2"}})"), document("{}", R"({"monday": []})"),
          document("{}", "{}", "null"), document("{}", "{}", "5"), document("{}", "{}", "[\"UTC\"]"),
          std::string("[]"), std::string("\"x\""), std::string("1")}) {
        EXPECT_PRED2(calendar_test::contains, error_of(text), "invalid type") << text;
    }
}

TEST(CalendarJsonRead, TrailingCharactersAreRefused) {
    const std::string doc = document(kDays, kProfiles);
    EXPECT_TRUE(parse_calendar_json(doc + " \t\r\n").ok());
    EXPECT_TRUE(parse_calendar_json(" \r\n" + doc).ok());
    for (const char* tail : {"x", " x", "}", "]", ",", "{}", "\r\n" "0", " \f", "\xC2\xA0", " //"}) {
        EXPECT_PRED2(calendar_test::starts_with, error_of(doc + tail), "trailing characters") << tail;
    }
    EXPECT_EQ(error_of("{\"TimeWeightings\": {}, \"DayWeightings\": {}, \"IanaTimeZone\": \"UTC\"}\n  x"),
              "trailing characters at line 2 column 3");
    // A fault inside the document comes first in the text and wins.
    EXPECT_PRED2(calendar_test::starts_with, error_of("{\"IanaTimeZone\": \"a\", \"IanaTimeZone\": \"b\"} x"), "duplicate field");
}

TEST(CalendarJsonRead, MalformedJsonIsAnError) {
    for (const std::string& text :
         {std::string(), std::string("   "), std::string("{"), document(kDays, kProfiles).substr(1),
          std::string("\xEF\xBB\xBF") + document(kDays, kProfiles), document(R"({"monday": 01})", "{}"),
          document(R"({"monday": 1.})", "{}"), document(R"({"monday": .5})", "{}"),
          document(R"({"monday": +1})", "{}"), document(R"({"monday": NaN})", "{}"),
          document(R"({"monday": Infinity})", "{}"), document(R"({"monday": 1e})", "{}"),
          document(R"({"monday": 1,})", "{}"), document(R"({"mon\xFFday": 1})", "{}"),
          document(R"({"mon)" "\x01" R"(day": 1})", "{}"), document(R"({"monday": 1e400 1})", "{}")}) {
        EXPECT_FALSE(parse_calendar_json(text).ok()) << text;
    }
}

TEST(CalendarJsonRead, DuplicateInnerKeysAreKeptInOrder) {
    const auto r = parse_calendar_json(
        document(R"({"monday": 1, "monday": 2})", R"({"monday": {"a": 1}, "monday": {"a": 2, "a": 3}})"));
    ASSERT_TRUE(r.ok()) << r.error().message;
    const CalendarJson& doc = r.value();
    ASSERT_EQ(doc.day_weightings.size(), 2u);
    EXPECT_EQ(doc.day_weightings[1].second, 2.0);
    ASSERT_EQ(doc.time_weightings.size(), 2u);
    ASSERT_EQ(doc.time_weightings[1].second.size(), 2u);
    EXPECT_EQ(doc.time_weightings[1].second[1].second, 3.0);
}

// Every valid JSON number reads as the double nearest to it, as the C
// library's correctly rounded strtod gives it, overflow to infinity included.
class JsonNumber : public ::testing::TestWithParam<std::string> {};

TEST_P(JsonNumber, ReadsAsNearestDouble) {
    const std::string& literal = GetParam();
    const double expected = std::strtod(literal.c_str(), nullptr);
    // Alone, and beside a number that the fast reader refuses.
    for (const std::string& extra : {std::string(), std::string("\"Big\": [1e999, -0], ")}) {
        const auto r = parse_calendar_json(
            document("{\"monday\": " + literal + ", \"tuesday\": 0.1}", "{\"x\": {\"k\": " + literal + "}}", "\"UTC\"", extra));
        ASSERT_TRUE(r.ok()) << literal << ": " << r.error().message;
        EXPECT_TRUE(same_bits(r.value().day_weightings[0].second, expected))
            << literal << " read as " << r.value().day_weightings[0].second << ", expected " << expected;
        EXPECT_TRUE(same_bits(r.value().time_weightings[0].second[0].second, expected)) << literal;
        EXPECT_EQ(r.value().day_weightings[1].second, 0.1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, JsonNumber,
    ::testing::Values("0", "-0", "-0.0", "0e5", "-0E-5", "7", "-7", "1.5", "1e2", "1E+2", "25e-1", "0.27",
                      "9007199254740993", "-9223372036854775808", "-9223372036854775809", "18446744073709551615",
                      "18446744073709551616", "123456789012345678901234567890", "1e400", "-1e400", "1e-400",
                      "-1e-400", "4.9e-324", "2.4703282292062327e-324", "2.4703282292062328e-324",
                      "2.2250738585072011e-308", "1.7976931348623157e308", "1.7976931348623158e308",
                      "1.7976931348623159e308", "0.1000000000000000055511151231257827021181583404541015625",
                      "1e0000000000000000000000000001", "1e-99999999999999999999", "1e99999999999999999999",
                      "0.000000000000000000000000000000000000000000000000000000000000001e-300",
                      std::string("1") + std::string(400, '0'), std::string("-0.") + std::string(400, '0') + "1",
                      std::string("1") + std::string(300, '0') + "e-300"));

}  // namespace
