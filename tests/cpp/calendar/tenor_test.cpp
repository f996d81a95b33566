#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "calendar/tenor.hpp"

namespace {

using tessel::calendar::tenor_to_ttx;

constexpr double INF = std::numeric_limits<double>::infinity();

class TenorValue : public ::testing::TestWithParam<std::pair<std::string, double>> {};

TEST_P(TenorValue, InYearsOf365Days) {
    const auto& [tenor, expected] = GetParam();
    const auto r = tenor_to_ttx(tenor);
    ASSERT_TRUE(r.ok()) << tenor << ": " << r.error().message;
    EXPECT_EQ(std::memcmp(&r.value(), &expected, sizeof expected), 0) << tenor << ": " << r.value();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TenorValue,
    ::testing::Values(
        std::pair{"1y", 1.0}, std::pair{"0.5y", 0.5}, std::pair{".5y", 0.5}, std::pair{"5.y", 5.0},
        std::pair{"6m", 180.0 / 365}, std::pair{"12m", 360.0 / 365}, std::pair{"2w", 14.0 / 365},
        std::pair{"52w", 364.0 / 365}, std::pair{"1d", 1.0 / 365}, std::pair{"365d", 1.0}, std::pair{"1e1d", 10.0 / 365},
        std::pair{"1.e1d", 10.0 / 365}, std::pair{"-1d", -1.0 / 365}, std::pair{"+3m", 90.0 / 365}, std::pair{"007y", 7.0},
        std::pair{"2.5E-1y", 0.25}, std::pair{"-0y", -0.0}, std::pair{"0.1m", (0.1 * 30) / 365},
        std::pair{"infy", INF}, std::pair{"-INFd", -INF}, std::pair{"+Infinityw", INF}, std::pair{"iNfInItYm", INF},
        std::pair{"1e400d", INF}, std::pair{"-1e400y", -INF}, std::pair{"1e-400y", 0.0}, std::pair{"-1e-400y", -0.0},
        std::pair{"1e308w", INF} /* the product overflows */, std::pair{"4.9e-324y", 4.9e-324},
        std::pair{"2.4703282292062327e-324y", 0.0}, std::pair{"1e99999999999999999999999d", INF},
        std::pair{"0e99999999999999999999999d", 0.0}));

TEST(Tenor, NotANumber) {
    for (const char* t : {"NaNm", "nany", "-nand", "+NANw"}) EXPECT_TRUE(std::isnan(tenor_to_ttx(t).value())) << t;
}

class TenorError : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(TenorError, Message) {
    const auto r = tenor_to_ttx(GetParam().first);
    ASSERT_FALSE(r.ok()) << GetParam().first;
    EXPECT_EQ(r.error().message, GetParam().second);
}

using E = std::pair<std::string, std::string>;
const std::string FORMAT = "Invalid tenor format: ", EMPTY = "cannot parse float from empty string",
                  LITERAL = "invalid float literal";

INSTANTIATE_TEST_SUITE_P(
    Cases, TenorError,
    ::testing::Values(E{"", FORMAT}, E{"1Y", FORMAT + "1Y"}, E{"3M", FORMAT + "3M"}, E{"1.5", FORMAT + "1.5"},
                      E{"1y ", FORMAT + "1y "}, E{"1dé", FORMAT + "1dé"}, E{"1\xFF", FORMAT + "1\xFF"}, E{"y", EMPTY},
                      E{"d", EMPTY}, E{"1 y", LITERAL}, E{" 1y", LITERAL}, E{"+y", LITERAL}, E{"-d", LITERAL},
                      E{"ey", LITERAL}, E{"1ey", LITERAL}, E{"1e+d", LITERAL}, E{".y", LITERAL}, E{".e1y", LITERAL},
                      E{"+-1y", LITERAL}, E{"1..5y", LITERAL}, E{"1e1.5y", LITERAL}, E{"0x1p3d", LITERAL},
                      E{"1_000d", LITERAL}, E{"1,5y", LITERAL}, E{"infinitey", LITERAL}, E{"infinityyy", LITERAL},
                      E{"nan1y", LITERAL}, E{"\xEF\xBC\x91" "d", LITERAL}, E{std::string("1\0y", 3), LITERAL}));

// Correctly rounded: agrees with the C library's strtod on random literals of
// the grammar, long mantissas and the ends of the range included.
TEST(Tenor, AgreesWithStrtod) {
    std::mt19937_64 rng(2024);
    std::vector<std::string> literals = {"9007199254740993", "9007199254740993.0000000000000000001",
                                         "2.2250738585072011e-308", "1.7976931348623158e308",
                                         "2.4703282292062328e-324", "123456789012345678901234567890"};
    for (int i = 0; i < 20000; ++i) {
        std::string lit = rng() % 4 == 0 ? "-" : rng() % 3 == 0 ? "+" : "";
        const std::size_t int_len = rng() % 25, frac_len = (int_len == 0 ? 1 : 0) + rng() % 25;
        for (std::size_t k = 0; k < int_len; ++k) lit.push_back(static_cast<char>('0' + rng() % 10));
        if (frac_len > 0 || rng() % 2 == 0) lit.push_back('.');
        for (std::size_t k = 0; k < frac_len; ++k) lit.push_back(static_cast<char>('0' + rng() % 10));
        if (rng() % 2 == 0) lit += (rng() % 2 ? "e" : "E-") + std::to_string(rng() % 700);
        literals.push_back(lit);
    }
    for (const std::string& lit : literals) {
        const double got = tenor_to_ttx(lit + "y").value(), expected = std::strtod(lit.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << lit << ": " << got << " vs " << expected;
    }
}

}  // namespace
