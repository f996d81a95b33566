#include "analytics/binary.hpp"

#include <cmath>

#include "analytics/normal.hpp"

namespace tessel::analytics {
namespace {

using namespace detail;

BinaryDriver driver(double fwd, double strike, double ttx, double vol) {
    return binary_driver(std::log(fwd / strike), ttx, vol);
}

}  // namespace

double binary_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return binary_guard_value(fwd, strike, cp, df);
    return binary_value_from_cdf(norm_cdf(binary_cdf_arg(driver(fwd, strike, ttx, vol), cp)), df);
}

double binary_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    return binary_delta_from(norm_pdf(driver(fwd, strike, ttx, vol).x), fwd, ttx, vol, cp, df);
}

double binary_gamma(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const BinaryDriver d = driver(fwd, strike, ttx, vol);
    return binary_gamma_from(norm_pdf(d.x), d, fwd, cp, df);
}

double binary_speed(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const BinaryDriver d = driver(fwd, strike, ttx, vol);
    return binary_speed_from(norm_pdf(d.x), d, fwd, cp, df);
}

double binary_vega(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const BinaryDriver d = driver(fwd, strike, ttx, vol);
    return binary_vega_from(gaussian(d.x, -SQRT_2PI), d, vol, cp, df);
}

double binary_theta(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const BinaryDriver d = driver(fwd, strike, ttx, vol);
    return binary_theta_from(norm_pdf(d.x), d, ttx, cp, df);
}

}  // namespace tessel::analytics
