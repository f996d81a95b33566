#include "analytics/binary.hpp"

#include <cmath>

#include "analytics/normal.hpp"

namespace tessel::analytics {
namespace {

struct Driver {
    double s;    // total volatility to expiry
    double x;    // ln(F/K) / s
    double phi;  // pdf(x)
};

Driver driver(double fwd, double strike, double ttx, double vol) {
    const double s = vol * std::sqrt(ttx);
    const double x = std::log(fwd / strike) / s;
    return {s, x, norm_pdf(x)};
}

double signed_for(OptionType cp, double call_value) { return cp == OptionType::Call ? call_value : -call_value; }

// Each formula below keeps its written grouping, (1/F) * (1/F) and all: the
// results are pinned to the bit, and another grouping rounds differently.

}  // namespace

double binary_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) {
        const bool pays = cp == OptionType::Call ? fwd > strike : fwd < strike;
        return df * (pays ? 1.0 : 0.0);
    }
    const double x = std::log(fwd / strike) / (vol * std::sqrt(ttx));
    // The put straight from N(-x), not D minus the call, keeps its small values accurate.
    return cp == OptionType::Call ? df * norm_cdf(x) : df * norm_cdf(-x);
}

double binary_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const Driver d = driver(fwd, strike, ttx, vol);
    return signed_for(cp, d.phi * df / (fwd * vol * std::sqrt(ttx)));
}

double binary_gamma(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const Driver d = driver(fwd, strike, ttx, vol);
    return signed_for(cp, (d.phi * (-df) * (1.0 / fwd) * (1.0 / fwd) * (1.0 / d.s)) * (1.0 + d.x * (1.0 / d.s)));
}

double binary_speed(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const Driver d = driver(fwd, strike, ttx, vol);
    return signed_for(cp, ((d.x / d.s + 2.0) * (d.x / d.s + 1.0) - 1.0 / (d.s * d.s)) *
                              (d.phi * df * (1.0 / (fwd * fwd * fwd)) / d.s));
}

double binary_vega(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const double x = std::log(fwd / strike) / (vol * std::sqrt(ttx));
    return signed_for(cp, gaussian(x, -SQRT_2PI) * df * x / vol);
}

double binary_theta(double fwd, double strike, double ttx, double vol, OptionType cp, double df) {
    if (guarded(ttx, vol)) return 0.0;
    const Driver d = driver(fwd, strike, ttx, vol);
    return signed_for(cp, d.phi * (0.5 * df) * d.x / ttx);
}

}  // namespace tessel::analytics
