#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "calendar/calendar_json.hpp"
#include "support.hpp"

namespace {

using calendar_test::document;
using calendar_test::starts_with;
using tessel::calendar::parse_calendar_json;

const std::string DAYS = R"({"monday": 1, "sunday": 0.5})";
const std::string PROFILES = R"({"monday": {"09:30 - 09:45": 2, "09:45 - 10:00": 3}})";

std::string error_of(const std::string& text) {
    const auto r = parse_calendar_json(text);
    EXPECT_FALSE(r.ok()) << text;
    return r.ok() ? std::string() : r.error().message;
}

void expect_small_doc(const std::string& text) {
    const auto r = parse_calendar_json(text);
    ASSERT_TRUE(r.ok()) << text << ": " << r.error().message;
    const auto& doc = r.value();
    ASSERT_EQ(doc.day_weightings.size(), 2u);
    EXPECT_EQ(doc.day_weightings[1], (std::pair<std::string, double>("sunday", 0.5)));
    ASSERT_EQ(doc.time_weightings.size(), 1u);
    EXPECT_EQ(doc.time_weightings[0].first, "monday");
    ASSERT_EQ(doc.time_weightings[0].second.size(), 2u);
    EXPECT_EQ(doc.time_weightings[0].second[1], (std::pair<std::string, double>("09:45 - 10:00", 3.0)));
}

TEST(CalendarJsonRead, FieldsInAnyOrder) {
    std::vector<std::string> members = {"\"DayWeightings\": " + DAYS, "\"TimeWeightings\": " + PROFILES,
                                        "\"IanaTimeZone\": \"US/Eastern\""};
    std::sort(members.begin(), members.end());
    do {
        expect_small_doc("{" + members[0] + ",\r\n" + members[1] + ",\t" + members[2] + "}");
    } while (std::next_permutation(members.begin(), members.end()));
    // Keys are compared after unescaping, and case-sensitively.
    const auto r = parse_calendar_json(R"({"Iana\u0054imeZone": "Europe\/Paris", "DayWeightings": {}, "TimeWeightings": {}})");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value().iana_time_zone, "Europe/Paris");
    EXPECT_TRUE(starts_with(error_of(R"({"dayWeightings": {}, "TimeWeightings": {}, "IanaTimeZone": "UTC"})"),
                            "missing field `DayWeightings`"));
}

class UnknownMember : public ::testing::TestWithParam<std::string> {};

TEST_P(UnknownMember, IsSkippedWhateverItsType) {
    const std::string v = GetParam();
    expect_small_doc(document(DAYS, PROFILES, "\"UTC\"", "\"Comment\": " + v + ", "));
    expect_small_doc("{\"DayWeightings\": " + DAYS + ", \"x\": " + v + ", \"TimeWeightings\": " + PROFILES +
                     ", \"IanaTimeZone\": \"UTC\", \"y\": " + v + "}");
}

INSTANTIATE_TEST_SUITE_P(JsonTypes, UnknownMember,
                         ::testing::Values("\"text\"", "42", "-0", "1e400", "123456789012345678901234567890", "true",
                                           "false", "null", "[]", "{}", "[1, \"a\", [null, 2e999], {\"k\": -0}]",
                                           "{\"TimeWeightings\": 5, \"DayWeightings\": \"x\"}"));

TEST(CalendarJsonRead, DuplicateAndMissingFields) {
    for (const std::string again : {"\"TimeWeightings\": {}, ", "\"DayWeightings\": {}, ", "\"IanaTimeZone\": \"UTC\", "}) {
        EXPECT_TRUE(starts_with(error_of(document(DAYS, PROFILES, "\"UTC\"", again)), "duplicate field `" + again.substr(1, again.find('"', 1) - 1) + "`"));
    }
    // Found past unknown members, before the value's type is looked at.
    EXPECT_EQ(error_of("{\"IanaTimeZone\": \"UTC\",\n \"Comment\": {\"IanaTimeZone\": 1},\n  \"IanaTimeZone\": 3}"),
              "duplicate field `IanaTimeZone` at line 3 column 16");
    const std::string tw = "\"TimeWeightings\": {}", dw = "\"DayWeightings\": {}", tz = "\"IanaTimeZone\": \"UTC\"";
    for (const auto& [text, missing] : std::vector<std::pair<std::string, std::string>>{
             {"{" + tz + "," + dw + "}", "TimeWeightings"}, {"{" + tz + "," + tw + "}", "DayWeightings"},
             {"{" + tw + "}", "DayWeightings"}, {"{" + dw + "," + tw + "}", "IanaTimeZone"}}) {
        EXPECT_TRUE(starts_with(error_of(text), "missing field `" + missing + "`")) << text;
    }
    EXPECT_EQ(error_of("{\r\n  \"Other\": 1\r\n}\r\n"), "missing field `TimeWeightings` at line 3 column 1");
}

TEST(CalendarJsonRead, WrongTypes) {
    for (const std::string& text :
         {document(R"({"monday": "1"})", "{}"), document(R"({"monday": null})", "{}"), document(R"({"monday": [1]})", "{}"),
          document(R"({"monday": true})", "{}"), document("[]", "{}"), document("{}", R"({"monday": 1})"),
          document("{}", R"({"x": {"00:00 - 00:15": "2"}})"), document("{}", "{}", "null"), document("{}", "{}", "5"),
          std::string("[]"), std::string("1")}) {
        EXPECT_TRUE(starts_with(error_of(text), "invalid type")) << text;
    }
}

TEST(CalendarJsonRead, TrailingCharacters) {
    const std::string doc = document(DAYS, PROFILES);
    expect_small_doc(" \r\n" + doc + " \t\r\n");
    for (const char* tail : {"x", "}", ",", "{}", " \f", "\xC2\xA0", " //"}) {
        EXPECT_TRUE(starts_with(error_of(doc + tail), "trailing characters")) << tail;
    }
    EXPECT_EQ(error_of(document("{}", "{}") + "\n  x"), "trailing characters at line 2 column 3");
    // A fault inside the document comes first in the text.
    EXPECT_TRUE(starts_with(error_of("{\"IanaTimeZone\": \"a\", \"IanaTimeZone\": \"b\"} x"), "duplicate field"));
}

TEST(CalendarJsonRead, MalformedJson) {
    for (const std::string days : {"{\"monday\": 01}", "{\"monday\": 1.}", "{\"monday\": .5}", "{\"monday\": +1}",
                                    "{\"monday\": NaN}", "{\"monday\": 1e}", "{\"monday\": 1,}", "{\"mon\xFF\": 1}",
                                    "{\"mon\x01\": 1}", "{\"monday\": 1e400 1}"}) {
        EXPECT_FALSE(parse_calendar_json(document(days, "{}")).ok()) << days;
    }
    for (const std::string& text : {std::string(), std::string("{"), "\xEF\xBB\xBF" + document("{}", "{}")}) {
        EXPECT_FALSE(parse_calendar_json(text).ok()) << text;
    }
}

TEST(CalendarJsonRead, DuplicateInnerKeysKeptInOrder) {
    const auto r = parse_calendar_json(document(R"({"monday": 1, "monday": 2})", R"({"m": {"a": 1}, "m": {"a": 2, "a": 3}})"));
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.value().day_weightings[1].second, 2.0);
    ASSERT_EQ(r.value().time_weightings.size(), 2u);
    EXPECT_EQ(r.value().time_weightings[1].second[1].second, 3.0);
}

// Every JSON number reads as the nearest double (the C library's strtod is
// correctly rounded), overflow to infinity, in both of the reader's paths.
class JsonNumber : public ::testing::TestWithParam<std::string> {};

TEST_P(JsonNumber, ReadsAsNearestDouble) {
    const double expected = std::strtod(GetParam().c_str(), nullptr);
    for (const std::string first : {"", "\"Big\": [1e999, -0], "}) {
        const auto r = parse_calendar_json(document("{\"monday\": " + GetParam() + ", \"tuesday\": 0.1}",
                                                    "{\"x\": {\"k\": " + GetParam() + "}}", "\"UTC\"", first));
        ASSERT_TRUE(r.ok()) << r.error().message;
        for (const double got : {r.value().day_weightings[0].second, r.value().time_weightings[0].second[0].second}) {
            EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << got << " != " << expected;
        }
        EXPECT_EQ(r.value().day_weightings[1].second, 0.1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Forms, JsonNumber,
    ::testing::Values("0", "-0", "-0.0", "-0E-5", "7", "-7", "1.5", "1E+2", "25e-1", "9007199254740993",
                      "-9223372036854775809", "18446744073709551615", "18446744073709551616",
                      "123456789012345678901234567890", "1e400", "-1e400", "1e-400", "-1e-400", "4.9e-324",
                      "2.4703282292062327e-324", "2.4703282292062328e-324", "2.2250738585072011e-308",
                      "1.7976931348623158e308", "1.7976931348623159e308",
                      "0.1000000000000000055511151231257827021181583404541015625", "1e0000000000000000000000000001",
                      "1e-99999999999999999999", "1e99999999999999999999", std::string("1").append(400, '0'),
                      std::string("-0.").append(400, '0').append("1"), std::string("1").append(300, '0').append("e-300")));

}  // namespace
