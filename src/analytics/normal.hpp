#pragma once
// The standard normal distribution.
#include <cmath>

#include "analytics/erfc_inline.hpp"
#include "core/lanes.hpp"

namespace tessel::analytics {

inline constexpr double SQRT_2PI = 2.5066282746310007;

namespace detail {
inline constexpr double CDF_MEAN = 0.0;
inline constexpr double CDF_SCALE = 1.0 * 1.4142135623730951;  // sd * sqrt(2), sd = 1

// Where erfc((0 - x) / sqrt(2)) is a constant that needs neither the division
// nor erfc: erfc(z) is exactly 0 for z >= 28 and exactly 2 for z <= -6 (the
// first and last of its regions). The thresholds keep a margin: x <= -39.6
// gives z >= 28.0014 and x >= 8.49 gives z <= -6.0033, however the division
// rounds.
inline constexpr double CDF_ZERO_BELOW = -39.6;
inline constexpr double CDF_ONE_ABOVE = 8.49;
}  // namespace detail

namespace detail {
// norm_cdf(x) is cdf_from_erfc(erfc(cdf_erfc_arg(x))): the stages apart, for
// the kernels that compute erfc of many arguments at once.
inline double cdf_erfc_arg(double x) { return (CDF_MEAN - x) / CDF_SCALE; }
inline double cdf_from_erfc(double e) { return 0.5 * e; }
// gaussian(x, d) is exp(gaussian_exp_arg(x)) / d.
inline double gaussian_exp_arg(double x) { return x * (-0.5 * x); }
}  // namespace detail

// erfc already gives 0 at +inf and 2 at -inf, hence 0 and 1 here, and NaN for NaN.
inline double norm_cdf(double x) { return detail::cdf_from_erfc(libm_erfc(detail::cdf_erfc_arg(x))); }

// norm_cdf(a) and norm_cdf(b) to the same bits, both divisions and both erfc
// side by side.
inline void norm_cdf_pair(double a, double b, double& cdf_a, double& cdf_b) {
    using namespace detail;
    const auto saturated = [](double x) { return x <= CDF_ZERO_BELOW || x >= CDF_ONE_ABOVE; };
    if (saturated(a) && saturated(b)) {
        cdf_a = a <= CDF_ZERO_BELOW ? 0.0 : 1.0;
        cdf_b = b <= CDF_ZERO_BELOW ? 0.0 : 1.0;
        return;
    }
    const lanes::Double2 z = (CDF_MEAN - lanes::make2(a, b)) / CDF_SCALE;
    const double za = lanes::lane0(z), zb = lanes::lane1(z);
    double ea, eb;
    if (inline_erfc_is_libm()) {
        erfc_inline_pair(za, zb, ea, eb);
    } else {
        ea = std::erfc(za);
        eb = std::erfc(zb);
    }
    cdf_a = cdf_from_erfc(ea);
    cdf_b = cdf_from_erfc(eb);
}

// exp(-x^2 / 2) / divisor. The density divides by SQRT_2PI; the binary vega
// by -SQRT_2PI, which keeps its sign on a NaN as well.
inline double gaussian(double x, double divisor) { return std::exp(detail::gaussian_exp_arg(x)) / divisor; }

inline double norm_pdf(double x) { return gaussian(x, SQRT_2PI); }

// The guard of every analytic: a non-positive time or volatility takes the
// function's guard value, before any logarithm. A NaN compares false and
// flows into the formula.
inline bool guarded(double ttx, double vol) { return ttx <= 0.0 || vol <= 0.0; }

}  // namespace tessel::analytics
