#include "core/unicode.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LowerCase {
    const char* name;
    std::string text;
    std::string lower;
};

void PrintTo(const LowerCase& c, std::ostream* os) { *os << c.name; }

class ToLowerFull : public ::testing::TestWithParam<LowerCase> {};

TEST_P(ToLowerFull, MatchesPythonLower) {
    EXPECT_EQ(tessel::to_lower_full(GetParam().text), GetParam().lower);
}

// Expected texts are what str.lower() gives for the same input.
INSTANTIATE_TEST_SUITE_P(
    Ascii, ToLowerFull,
    ::testing::Values(LowerCase{"empty", "", ""}, LowerCase{"letters", "CALL Put c", "call put c"},
                      LowerCase{"punctuation", "@[`{ AZ az 09 \t~", "@[`{ az az 09 \t~"},
                      LowerCase{"nul_kept", std::string("A\0B", 3), std::string("a\0b", 3)}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Latin, ToLowerFull,
    ::testing::Values(
        // Capital I with dot above becomes two code points: i + combining dot.
        LowerCase{"dotted_capital_i", "\xC4\xB0", "i\xCC\x87"},
        LowerCase{"dotted_i_in_word", "\xC4\xB0STANBUL", "i\xCC\x87stanbul"},
        LowerCase{"dotless_small_i_kept", "\xC4\xB1", "\xC4\xB1"},
        LowerCase{"capital_sharp_s", "STRA\xE1\xBA\x9E" "E", "stra\xC3\x9F" "e"},
        LowerCase{"latin1", "\xC3\x80\xC3\x89\xC3\x96\xC3\x98\xC3\x9E", "\xC3\xA0\xC3\xA9\xC3\xB6\xC3\xB8\xC3\xBE"},
        LowerCase{"multiplication_sign_kept", "\xC3\x97", "\xC3\x97"},
        LowerCase{"extended_a_pairs", "\xC4\x80\xC4\x81\xC5\xBD", "\xC4\x81\xC4\x81\xC5\xBE"},
        LowerCase{"y_diaeresis", "\xC5\xB8", "\xC3\xBF"},
        LowerCase{"kelvin_to_ascii", "\xE2\x84\xAA", "k"},
        LowerCase{"angstrom", "\xE2\x84\xAB", "\xC3\xA5"},
        LowerCase{"roman_numeral", "\xE2\x85\xAB", "\xE2\x85\xBB"},
        LowerCase{"fullwidth", "\xEF\xBC\xA3\xEF\xBC\xA1", "\xEF\xBD\x83\xEF\xBD\x81"},
        LowerCase{"deseret_four_bytes", "\xF0\x90\x90\x80x", "\xF0\x90\x90\xA8x"},
        LowerCase{"emoji_kept", "\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    GreekCyrillic, ToLowerFull,
    ::testing::Values(LowerCase{"greek_word", "ΑΒΓΔ", "αβγδ"},
                      LowerCase{"accented_greek", "Ά Ώ", "ά ώ"},
                      LowerCase{"cyrillic", "МОСКВА Ёж", "москва ёж"},
                      LowerCase{"cyrillic_extended", "ЂЉЊЋЏ", "ђљњћџ"}),
    [](const auto& info) { return std::string(info.param.name); });

// The capital sigma is final after a cased letter when no cased letter
// follows, skipping case-ignorable characters on both sides.
INSTANTIATE_TEST_SUITE_P(
    Sigma, ToLowerFull,
    ::testing::Values(LowerCase{"alone", "Σ", "σ"}, LowerCase{"word_end", "ΟΔΟΣ", "οδος"},
                      LowerCase{"word_start", "ΣΑ", "σα"}, LowerCase{"word_middle", "ΑΣΑ", "ασα"},
                      LowerCase{"two_words", "ΟΔΟΣ ΟΔΟΣ", "οδος οδος"},
                      LowerCase{"double", "ΣΣ", "σς"}, LowerCase{"after_latin", "AΣ", "aς"},
                      LowerCase{"after_digit", "1Σ", "1σ"},
                      LowerCase{"after_space_only", " Σ", " σ"},
                      LowerCase{"period_skipped_before", "Α.Σ", "α.ς"},
                      LowerCase{"apostrophe_skipped_after", "ΑΣ'Α", "ασ'α"},
                      LowerCase{"ignorable_then_end", "ΑΣ'", "ας'"},
                      LowerCase{"comma_not_ignorable", "ΑΣ,Α", "ας,α"},
                      LowerCase{"combining_acute_before", "Α\xCC\x81Σ", "α\xCC\x81ς"},
                      LowerCase{"combining_acute_after", "ΑΣ\xCC\x81", "ας\xCC\x81"},
                      LowerCase{"only_ignorables_before", ".\xCC\x81Σ", ".\xCC\x81σ"},
                      LowerCase{"modifier_letter_skipped", "Aʰ Σ", "aʰ σ"},
                      LowerCase{"modifier_letter_before", "AʰΣ", "aʰς"},
                      LowerCase{"lowercase_is_cased", "αΣ", "ας"},
                      LowerCase{"cased_after_ignorable", "ΑΣ\xCC\x81" "b", "ασ\xCC\x81" "b"},
                      LowerCase{"four_byte_cased_after", "ΑΣ\xF0\x90\x90\x80", "ασ\xF0\x90\x90\xA8"},
                      LowerCase{"dotted_i_before", "\xC4\xB0Σ", "i\xCC\x87ς"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ToLowerFullSize, GrowsForTwoToThreeByteLowerCase) {
    std::string text, lower;
    for (int i = 0; i < 50; ++i) {
        text += "\xC4\xB0" "A";
        lower += "i\xCC\x87" "a";
    }
    EXPECT_EQ(tessel::to_lower_full(text), lower);
}

}  // namespace
