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
    const auto r = parse_option_type(GetParam().text);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r.value(), GetParam().type);
}

INSTANTIATE_TEST_SUITE_P(AnyCase, ParseAccepted,
                         ::testing::Values(Accepted{"c", OptionType::Call}, Accepted{"C", OptionType::Call},
                                           Accepted{"call", OptionType::Call}, Accepted{"CALL", OptionType::Call},
                                           Accepted{"Call", OptionType::Call}, Accepted{"cAlL", OptionType::Call},
                                           Accepted{"p", OptionType::Put}, Accepted{"P", OptionType::Put},
                                           Accepted{"put", OptionType::Put}, Accepted{"PUT", OptionType::Put},
                                           Accepted{"pUt", OptionType::Put}));

struct Refused {
    std::string text;
    std::string shown;  // the lower-cased text quoted in the message
};

class ParseRefused : public ::testing::TestWithParam<Refused> {};

TEST_P(ParseRefused, MessageQuotesLowerCasedText) {
    const auto r = parse_option_type(GetParam().text);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().message,
              "Unknown option type: '" + GetParam().shown + "'. Use 'call'/'c' or 'put'/'p'.");
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseRefused,
    ::testing::Values(Refused{"PUTX", "putx"}, Refused{"calls", "calls"}, Refused{"cal", "cal"}, Refused{"", ""},
                      Refused{" call", " call"}, Refused{"call ", "call "}, Refused{"\tP", "\tp"},
                      Refused{std::string("c\0", 2), std::string("c\0", 2)},
                      Refused{"Calls And Puts", "calls and puts"},
                      // Non-ASCII: the message shows the full lower case, not the input.
                      Refused{"\xC3\x87" "ALL", "\xC3\xA7" "all"},         // Ç
                      Refused{"\xC4\xB0", "i\xCC\x87"},                   // İ grows to two code points
                      Refused{"PUT\xCE\xA3", "put\xCF\x82"},              // final sigma after a cased letter
                      Refused{"\xE2\x84\xAA" "ALL", "kall"},              // Kelvin sign lower-cases to ASCII
                      Refused{"\xEF\xBC\xA3", "\xEF\xBD\x83"}));          // fullwidth C is not "c"

}  // namespace
