// The in-line erfc against libm's, bit for bit, over every region boundary,
// every binade's edges, the special values and 10^7 random arguments.
#include "analytics/erfc_inline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "../support/libm_copy.hpp"

namespace {

using namespace tessel::analytics;
using namespace tessel::libm_copy;

double libm(double x) { return std::erfc(x); }

void check_erfc(const std::vector<double>& xs) { check(xs, &erfc_inline, &libm, &erfc_inline_pair, inline_erfc_is_libm()); }

TEST(ErfcInline, RegionBoundaries) {
    // Where glibc's erfc changes formula (by the high word of |x|), where the
    // result turns subnormal and then 0, and where it rounds to 2.
    std::vector<double> xs;
    for (const std::uint64_t edge : {0x3c70000000000000ULL, 0x3fd0000000000000ULL, 0x3feb000000000000ULL,
                                     0x3ff4000000000000ULL, 0x4006db6d00000000ULL, 0x4018000000000000ULL,
                                     0x403c000000000000ULL})
        around(xs, from_bits(edge), 4096);
    for (const double x : {26.5, 26.55, 27.2, 27.3, 5.9, 5.95}) around(xs, x, 4096);
    check_erfc(xs);
}

TEST(ErfcInline, ExponentEdges) { check_erfc(exponent_edges()); }

TEST(ErfcInline, SpecialValues) {
    check_erfc(special_values());
    EXPECT_EQ(erfc_inline(0.0), 1.0);
    EXPECT_EQ(erfc_inline(INFINITY), 0.0);
    EXPECT_EQ(erfc_inline(-INFINITY), 2.0);
    EXPECT_TRUE(std::isnan(erfc_inline(NAN)));
}

TEST(ErfcInline, RandomArguments) {
    // 10^7 in all: half uniform where erfc is neither 0 nor 2, half any bit pattern.
    std::mt19937_64 gen(11);
    std::vector<double> xs(1'000'000);
    for (int round = 0; round < 10 && !HasFailure(); ++round) {
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const std::uint64_t b = gen();
            xs[i] = i % 2 ? from_bits(b) : static_cast<double>(b >> 11) * 0x1p-53 * 36.0 - 8.0;
        }
        check_erfc(xs);
    }
}

TEST(ErfcInline, ProbeGivesTheVerdictOfAWideComparison) {
    // The probe at load decides whether the copy stands in for libm; a million
    // arguments over its range must say the same, and libm_erfc is always libm's.
    std::mt19937_64 gen(13);
    bool same = true;
    for (int i = 0; i < 1'000'000; ++i) {
        const double x = static_cast<double>(gen() >> 11) * 0x1p-53 * 36.0 - 8.0;
        same = same && bits(erfc_inline(x)) == bits(std::erfc(x));
        ASSERT_EQ(bits(libm_erfc(x)), bits(std::erfc(x))) << std::hexfloat << x;
    }
    EXPECT_EQ(inline_erfc_is_libm(), same);
}

}  // namespace
