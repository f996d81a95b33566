#include "analytics/option_type.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

using tessel::analytics::OptionType;
using tessel::analytics::parse_option_type;

struct Accepted {
    const char* text;
    OptionType type;
};

class ParseAccepted : public ::testing::TestWithParam<Accepted> {};

TEST_P(ParseAccepted, GivesType) {
    EXPECT_EQ(parse_option_type(GetParam().text), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(AnyCase, ParseAccepted,
                         ::testing::Values(Accepted{"c", OptionType::Call}, Accepted{"C", OptionType::Call},
                                           Accepted{"call", OptionType::Call}, Accepted{"CALL", OptionType::Call},
                                           Accepted{"Call", OptionType::Call}, Accepted{"cAlL", OptionType::Call},
                                           Accepted{"p", OptionType::Put}, Accepted{"P", OptionType::Put},
                                           Accepted{"put", OptionType::Put}, Accepted{"PUT", OptionType::Put},
                                           Accepted{"pUt", OptionType::Put}));

class ParseRefused : public ::testing::TestWithParam<std::string> {};

TEST_P(ParseRefused, GivesNone) { EXPECT_EQ(parse_option_type(GetParam()), std::nullopt); }

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseRefused,
    ::testing::Values("PUTX", "calls", "cal", "", " call", "call ", "\tP", std::string("c\0", 2), "Calls And Puts",
                      "\xC3\x87" "ALL",   // Ç
                      "\xC4\xB0",         // İ
                      "PUT\xCE\xA3",      // a sigma after a cased letter
                      "\xE2\x84\xAA" "ALL",  // the Kelvin sign lower-cases to "k", which no word has
                      "\xEF\xBC\xA3",     // fullwidth C is not "c"
                      "\xC3",             // half a character
                      std::string("p\xC3\x80", 3)));

}  // namespace
