#include "analytics/black76.hpp"

#include <cmath>

#include "analytics/normal.hpp"

namespace tessel::analytics {
namespace {

using namespace detail;

double d1_of(double fwd, double strike, double ttx, double vol, double vol_sqrt_t) {
    return d1_from_log(std::log(fwd / strike), ttx, vol, vol_sqrt_t);
}

}  // namespace

double b76_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return b76_guard_value(fwd, strike, cp, df);
    return b76_value(fwd, strike, ttx, vol, cp, df, std::log(fwd / strike), std::sqrt(ttx));
}

double b76_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const double sqrt_t = std::sqrt(ttx);
    const double d1 = d1_of(fwd, strike, ttx, vol, vol * sqrt_t);
    return b76_delta_from(norm_pdf(d1), fwd, vol, sqrt_t, cp, df);
}

double b76_vega(double fwd, double strike, double ttx, double vol, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const double sqrt_t = std::sqrt(ttx);
    const double d1 = d1_of(fwd, strike, ttx, vol, vol * sqrt_t);
    return b76_vega_from(norm_pdf(d1), fwd, sqrt_t, df);
}

double b76_gamma(double fwd, double strike, double ttx, double vol, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const double sqrt_t = std::sqrt(ttx);
    const double d1 = d1_of(fwd, strike, ttx, vol, vol * sqrt_t);
    return b76_gamma_from(norm_pdf(d1), fwd, vol, sqrt_t, df);
}

}  // namespace tessel::analytics
