#pragma once
// Checks an in-line copy of a libm function against libm itself, bit for bit,
// argument by argument: for the copy's one-argument form and for its form
// over two lanes.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace tessel::libm_copy {

inline double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }
inline std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Both signs of x and the `steps` doubles on either side of each.
inline void around(std::vector<double>& xs, double x, int steps) {
    for (const double s : {x, -x})
        for (int k = -steps; k <= steps; ++k) {
            // Unsigned, so that stepping past either zero wraps instead of overflowing.
            const std::uint64_t b = bits(s) + static_cast<std::uint64_t>(static_cast<std::int64_t>(k));
            if ((bits(s) ^ b) >> 63 == 0) xs.push_back(from_bits(b));
        }
}

// Every binade's first double and its neighbours, both signs.
inline std::vector<double> exponent_edges() {
    std::vector<double> xs;
    for (int e = -1074; e <= 1023; ++e) around(xs, std::ldexp(1.0, e), 4);
    return xs;
}

// Zeros, infinities, NaNs, the extremes and random subnormals.
inline std::vector<double> special_values() {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> xs = {0.0, -0.0, inf, -inf, nan, -nan, std::numeric_limits<double>::signaling_NaN(),
                              std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
                              std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
    std::mt19937_64 gen(7);
    for (int i = 0; i < 10000; ++i) xs.push_back(from_bits(gen() & 0x800fffffffffffffULL));
    return xs;
}

using Pair = std::function<void(double, double, double&, double&)>;

// ours(x) has libm(x)'s bits, and pair(x, next x) those of ours. Where the
// copy is not the running libm's (`exact` false: another platform's libm,
// compiled with fused multiply-adds, or another algorithm), it is only held
// to be as accurate: within 4 ulp of that libm (aarch64's erfc is 3 apart).
inline void check(const std::vector<double>& xs, double (*ours)(double), double (*libm)(double), const Pair& pair,
                  bool exact) {
    std::size_t failures = 0;
    const auto agrees = [&](double a, double b) {
        if (bits(a) == bits(b)) return true;
        if (exact || std::isnan(a) || std::isnan(b)) return false;
        const auto d = static_cast<std::int64_t>(bits(a) - bits(b));
        return d >= -4 && d <= 4;
    };
    for (std::size_t i = 0; i < xs.size(); ++i) {
        const double x = xs[i], y = xs[(i + 1) % xs.size()];
        const double a = ours(x);
        if (!agrees(a, libm(x)) && ++failures <= 10)
            ADD_FAILURE() << std::hexfloat << "f(" << x << "): " << a << ", libm " << libm(x);
        double p0, p1;
        pair(x, y, p0, p1);
        if ((bits(p0) != bits(a) || bits(p1) != bits(ours(y))) && ++failures <= 10)
            ADD_FAILURE() << std::hexfloat << "pair(" << x << ", " << y << "): " << p0 << ", " << p1;
    }
    EXPECT_EQ(failures, 0u) << "of " << xs.size() << " arguments";
}

}  // namespace tessel::libm_copy
