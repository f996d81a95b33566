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

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Good {
    std::string tenor;
    double expected;
};

class TenorValue : public ::testing::TestWithParam<Good> {};

TEST_P(TenorValue, InYearsOf365Days) {
    const auto r = tenor_to_ttx(GetParam().tenor);
    ASSERT_TRUE(r.ok()) << GetParam().tenor << ": " << r.error().message;
    EXPECT_TRUE(same_bits(r.value(), GetParam().expected))
        << GetParam().tenor << " gave " << r.value() << ", expected " << GetParam().expected;
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Units, TenorValue,
    ::testing::Values(Good{"1y", 1.0}, Good{"0.5y", 0.5}, Good{".5y", 0.5}, Good{"5.y", 5.0},
                      Good{"6m", 180.0 / 365.0}, Good{"12m", 360.0 / 365.0}, Good{"2w", 14.0 / 365.0},
                      Good{"52w", 364.0 / 365.0}, Good{"1d", 1.0 / 365.0}, Good{"365d", 1.0},
                      Good{"1e1d", 10.0 / 365.0}, Good{"1.e1d", 10.0 / 365.0}, Good{"-1d", -1.0 / 365.0},
                      Good{"+3m", 90.0 / 365.0}, Good{"007y", 7.0}, Good{"2.5E-1y", 0.25},
                      Good{"1e+0w", 7.0 / 365.0}, Good{"-0y", -0.0}, Good{"0.1m", (0.1 * 30.0) / 365.0}));

INSTANTIATE_TEST_SUITE_P(
    Special, TenorValue,
    ::testing::Values(Good{"infy", kInf}, Good{"-INFd", -kInf}, Good{"+Infinityw", kInf}, Good{"iNfInItYm", kInf},
                      Good{"1e400d", kInf}, Good{"-1e400y", -kInf}, Good{"1e-400y", 0.0}, Good{"-1e-400y", -0.0},
                      Good{"1.7976931348623159e308y", kInf}, Good{"4.9e-324y", 4.9e-324},
                      Good{"2.4703282292062327e-324y", 0.0}, Good{"1e99999999999999999999999d", kInf},
                      Good{"0e99999999999999999999999d", 0.0}, Good{"1e308w", kInf}));

TEST(Tenor, NotANumber) {
    for (const char* t : {"NaNm", "nany", "-nand", "+NANw"}) {
        const auto r = tenor_to_ttx(t);
        ASSERT_TRUE(r.ok()) << t;
        EXPECT_TRUE(std::isnan(r.value())) << t;
    }
}

struct Bad {
    std::string tenor;
    std::string message;
};

class TenorError : public ::testing::TestWithParam<Bad> {};

TEST_P(TenorError, Message) {
    const auto r = tenor_to_ttx(GetParam().tenor);
    ASSERT_FALSE(r.ok()) << GetParam().tenor << " gave " << r.value();
    EXPECT_EQ(r.error().message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TenorError,
    ::testing::Values(Bad{"", "Invalid tenor format: "}, Bad{"1Y", "Invalid tenor format: 1Y"},
                      Bad{"3M", "Invalid tenor format: 3M"}, Bad{"1.5", "Invalid tenor format: 1.5"},
                      Bad{"1y ", "Invalid tenor format: 1y "}, Bad{"1x", "Invalid tenor format: 1x"},
                      Bad{"1dé", "Invalid tenor format: 1dé"}, Bad{"1\xFF", "Invalid tenor format: 1\xFF"},
                      Bad{"y", "cannot parse float from empty string"},
                      Bad{"d", "cannot parse float from empty string"}, Bad{"1 y", "invalid float literal"},
                      Bad{" 1y", "invalid float literal"}, Bad{"+y", "invalid float literal"},
                      Bad{"-d", "invalid float literal"}, Bad{"ey", "invalid float literal"},
                      Bad{"1ey", "invalid float literal"}, Bad{"1e+d", "invalid float literal"},
                      Bad{".y", "invalid float literal"}, Bad{".e1y", "invalid float literal"},
                      Bad{"+-1y", "invalid float literal"}, Bad{"--1y", "invalid float literal"},
                      Bad{"1..5y", "invalid float literal"}, Bad{"1e1.5y", "invalid float literal"},
                      Bad{"0x1p3d", "invalid float literal"}, Bad{"1_000d", "invalid float literal"},
                      Bad{"1,5y", "invalid float literal"}, Bad{"infinitey", "invalid float literal"},
                      Bad{"infinityyy", "invalid float literal"}, Bad{"nan1y", "invalid float literal"},
                      Bad{"in fy", "invalid float literal"}, Bad{"\xEF\xBC\x91" "d", "invalid float literal"},
                      Bad{std::string("1\0y", 3), "invalid float literal"}));

// Correct rounding: the reading agrees with the C library's strtod on every
// literal of the grammar, long mantissas, halfway cases and range ends included.
TEST(Tenor, AgreesWithStrtod) {
    std::mt19937_64 rng(2024);
    const auto digits = [&](std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i) s.push_back(static_cast<char>('0' + rng() % 10));
        return s;
    };
    std::vector<std::string> literals = {"9007199254740993", "9007199254740993.0000000000000000001",
                                         "9007199254740995", "2.2250738585072011e-308", "2.2250738585072012e-308",
                                         "1.7976931348623157e308", "1.7976931348623158e308", "4.9406564584124654e-324",
                                         "2.4703282292062328e-324", "0.1", "0.3", "123456789012345678901234567890"};
    for (int i = 0; i < 20000; ++i) {
        std::string lit = (rng() % 4 == 0) ? "-" : (rng() % 3 == 0 ? "+" : "");
        const std::size_t int_len = rng() % 25;
        const std::size_t frac_len = (int_len == 0 ? 1 : 0) + rng() % 25;
        lit += digits(int_len);
        if (frac_len > 0 || rng() % 2 == 0) {
            lit.push_back('.');
            lit += digits(frac_len);
        }
        if (rng() % 2 == 0) {
            lit += (rng() % 2 == 0) ? "e" : "E";
            const int r = static_cast<int>(rng() % 3);
            if (r == 1) lit += "-";
            if (r == 2) lit += "+";
            lit += std::to_string(rng() % 700);
        }
        literals.push_back(lit);
    }
    for (const std::string& lit : literals) {
        const auto r = tenor_to_ttx(lit + "y");
        ASSERT_TRUE(r.ok()) << lit;
        const double expected = std::strtod(lit.c_str(), nullptr);
        ASSERT_TRUE(same_bits(r.value(), expected)) << lit << " gave " << r.value() << ", strtod " << expected;
    }
}

}  // namespace
