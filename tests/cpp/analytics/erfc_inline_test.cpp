// The in-line erfc against libm's, bit for bit, over every region boundary,
// every binade's edges, the special values and random arguments.
#include "analytics/erfc_inline.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace tessel::analytics;

double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }
std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Same bits where the copy is proven to be libm's; elsewhere within 2 ulp.
bool agrees(double ours, double libm) {
    if (bits(ours) == bits(libm)) return true;
    if (INLINE_ERFC_IS_LIBM) return false;
    if (std::isnan(ours) || std::isnan(libm)) return std::isnan(ours) && std::isnan(libm);
    const auto a = static_cast<std::int64_t>(bits(ours)), b = static_cast<std::int64_t>(bits(libm));
    return (a > b ? a - b : b - a) <= 2;
}

// Checks every argument, reports the first few that differ, and checks the
// pair form on neighbours (mostly in one region, sometimes across two).
void check(const std::vector<double>& xs) {
    std::size_t failures = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double x = xs[i];
        const double ours = erfc_inline(x), libm = std::erfc(x);
        if (!agrees(ours, libm) && ++failures <= 10)
            ADD_FAILURE() << std::hexfloat << "erfc(" << x << "): " << ours << ", libm " << libm;
        const double y = xs[(i + 1) % xs.size()];
        double p0, p1;
        erfc_inline_pair(x, y, p0, p1);
        if ((bits(p0) != bits(ours) || bits(p1) != bits(erfc_inline(y))) && ++failures <= 10)
            ADD_FAILURE() << std::hexfloat << "pair(" << x << ", " << y << "): " << p0 << ", " << p1;
    }
    EXPECT_EQ(failures, 0u) << "of " << xs.size() << " arguments";
}

// Both signs of x and the `steps` doubles on either side of each.
void around(std::vector<double>& xs, double x, int steps) {
    for (const double s : {x, -x})
        for (int k = -steps; k <= steps; ++k) {
            const auto b = static_cast<std::int64_t>(bits(s)) + k;
            if ((bits(s) ^ static_cast<std::uint64_t>(b)) >> 63 == 0) xs.push_back(from_bits(static_cast<std::uint64_t>(b)));
        }
}

TEST(ErfcInline, RegionBoundaries) {
    // Where glibc's erfc changes formula (by the high word of |x|), where the
    // result turns subnormal and then 0, and where it rounds to 2.
    std::vector<double> xs;
    for (const std::uint64_t edge : {0x3c70000000000000ULL, 0x3fd0000000000000ULL, 0x3feb000000000000ULL,
                                     0x3ff4000000000000ULL, 0x4006db6d00000000ULL, 0x4018000000000000ULL,
                                     0x403c000000000000ULL})
        around(xs, from_bits(edge), 4096);
    for (const double x : {26.5, 26.55, 27.2, 27.3, 5.9, 5.95})
        around(xs, x, 4096);
    check(xs);
}

TEST(ErfcInline, ExponentEdges) {
    std::vector<double> xs;
    for (int e = -1074; e <= 1023; ++e) around(xs, std::ldexp(1.0, e), 4);
    check(xs);
}

TEST(ErfcInline, SpecialValues) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> xs = {0.0, -0.0, inf, -inf, nan, -nan, std::numeric_limits<double>::signaling_NaN(),
                              std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                              std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
    std::mt19937_64 gen(7);
    for (int i = 0; i < 10000; ++i) xs.push_back(from_bits(gen() & 0x800fffffffffffffULL));  // subnormals
    check(xs);
    EXPECT_EQ(erfc_inline(0.0), 1.0);
    EXPECT_EQ(erfc_inline(inf), 0.0);
    EXPECT_EQ(erfc_inline(-inf), 2.0);
    EXPECT_TRUE(std::isnan(erfc_inline(nan)));
}

TEST(ErfcInline, RandomArguments) {
    // 10^7 in all: half uniform where erfc is neither 0 nor 2, half any bit pattern.
    std::mt19937_64 gen(11);
    std::vector<double> xs(1'000'000);
    for (int round = 0; round < 10; ++round) {
        for (std::size_t i = 0; i < xs.size(); ++i) {
            const std::uint64_t b = gen();
            xs[i] = i % 2 ? from_bits(b) : static_cast<double>(b >> 11) * 0x1p-53 * 36.0 - 8.0;
        }
        check(xs);
        if (HasFailure()) break;
    }
}

}  // namespace
