#include "analytics/black76.hpp"

#include <algorithm>
#include <cmath>

#include "analytics/normal.hpp"

namespace tessel::analytics {
namespace {

double d1_of(double fwd, double strike, double ttx, double vol, double vol_sqrt_t) {
    return (std::log(fwd / strike) + 0.5 * vol * vol * ttx) / vol_sqrt_t;
}

}  // namespace

double b76_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) {
        // std::max keeps a NaN first argument, so NaN inputs stay NaN.
        return cp == OptionType::Call ? df * std::max(fwd - strike, 0.0) : df * std::max(strike - fwd, 0.0);
    }
    return detail::b76_value(fwd, strike, ttx, vol, cp, df, std::log(fwd / strike), std::sqrt(ttx));
}

double b76_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const double sqrt_t = std::sqrt(ttx);
    const double d1 = d1_of(fwd, strike, ttx, vol, vol * sqrt_t);
    const double g = norm_pdf(d1) * df / (fwd * vol * sqrt_t);
    return cp == OptionType::Call ? g : -g;
}

double b76_vega(double fwd, double strike, double ttx, double vol, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const double sqrt_t = std::sqrt(ttx);
    const double d1 = d1_of(fwd, strike, ttx, vol, vol * sqrt_t);
    return norm_pdf(d1) * (df * fwd) * sqrt_t;
}

double b76_gamma(double fwd, double strike, double ttx, double vol, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const double sqrt_t = std::sqrt(ttx);
    const double d1 = d1_of(fwd, strike, ttx, vol, vol * sqrt_t);
    return norm_pdf(d1) * df / (fwd * fwd * vol * sqrt_t);
}

}  // namespace tessel::analytics
