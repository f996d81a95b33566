#pragma once
// The standard normal distribution.
#include <cmath>

namespace tessel::analytics {

inline constexpr double SQRT_2PI = 2.5066282746310007;

// erfc already gives 0 at +inf and 2 at -inf, hence 0 and 1 here, and NaN for NaN.
inline double norm_cdf(double x) {
    constexpr double mean = 0.0;
    constexpr double sd = 1.0;
    const double z = (mean - x) / (sd * 1.4142135623730951);
    return 0.5 * std::erfc(z);
}

inline double norm_pdf(double x) { return std::exp(x * (-0.5 * x)) / SQRT_2PI; }

}  // namespace tessel::analytics
