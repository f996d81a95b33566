#pragma once
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace volmodel_test {

// Bit identity, with every NaN treated as equal.
inline bool same_bits(double a, double b) {
    return (std::isnan(a) && std::isnan(b)) || std::bit_cast<std::int64_t>(a) == std::bit_cast<std::int64_t>(b);
}

// Strikes from deep wings through the money, plus invalid ones.
inline const std::vector<double> STRIKES{1e-3, 30, 60, 80, 95, 99.99, 100, 100.01, 104.9,
                                         110,  125, 170, 400, 1e4, 0.0,   -5.0};
inline const std::vector<double> SPOTS{80.0, 100.0, 123.4};
inline const std::vector<double> TTXS{0.0, 0.01, 0.25, 0.5, 1.0, 2.0, -0.5};

}  // namespace volmodel_test
