#pragma once
// Cash-or-nothing binary options paying D if the forward ends above (call) or
// below (put) the strike. The model's driver is x = ln(F/K) / (vol sqrt(T)),
// with no drift term; each sensitivity is the exact derivative of the value
// D N(x) (call) or D N(-x) (put), the put's being the call's negated.
// A non-positive time or volatility gives the guard value: the discounted
// payoff at expiry (0 at the money), or 0 for a sensitivity.
#include <cmath>

#include "analytics/normal.hpp"
#include "analytics/option_type.hpp"

namespace tessel::analytics {

namespace detail {
// Each function split where it calls log, exp or erfc (see black76.hpp). Each
// formula keeps its written grouping, (1/F) * (1/F) and all: the results are
// pinned to the bit, and another grouping rounds differently.

struct BinaryDriver {
    double s;  // total volatility to expiry, vol sqrt(T)
    double x;  // ln(F/K) / s
};
inline BinaryDriver binary_driver(double log_fk, double ttx, double vol) {
    const double s = vol * std::sqrt(ttx);
    return {s, log_fk / s};
}

inline double signed_for(OptionType cp, double call_value) { return cp == OptionType::Call ? call_value : -call_value; }

// The discounted payoff at expiry: 0 at the money.
inline double binary_guard_value(double fwd, double strike, OptionType cp, double df) {
    const bool pays = cp == OptionType::Call ? fwd > strike : fwd < strike;
    return df * (pays ? 1.0 : 0.0);
}
// The value is D N(x) for a call, D N(-x) for a put: the put straight from
// N(-x), not D minus the call, keeps its small values accurate.
inline double binary_cdf_arg(const BinaryDriver& d, OptionType cp) { return cp == OptionType::Call ? d.x : -d.x; }
inline double binary_value_from_cdf(double cdf, double df) { return df * cdf; }

// The sensitivities from phi = pdf(x).
inline double binary_delta_from(double phi, double fwd, double ttx, double vol, OptionType cp, double df) {
    return signed_for(cp, phi * df / (fwd * vol * std::sqrt(ttx)));
}
inline double binary_gamma_from(double phi, const BinaryDriver& d, double fwd, OptionType cp, double df) {
    return signed_for(cp, (phi * (-df) * (1.0 / fwd) * (1.0 / fwd) * (1.0 / d.s)) * (1.0 + d.x * (1.0 / d.s)));
}
inline double binary_speed_from(double phi, const BinaryDriver& d, double fwd, OptionType cp, double df) {
    return signed_for(cp, ((d.x / d.s + 2.0) * (d.x / d.s + 1.0) - 1.0 / (d.s * d.s)) *
                              (phi * df * (1.0 / (fwd * fwd * fwd)) / d.s));
}
inline double binary_theta_from(double phi, const BinaryDriver& d, double ttx, OptionType cp, double df) {
    return signed_for(cp, phi * (0.5 * df) * d.x / ttx);
}
// From exp(-x^2 / 2) / -SQRT_2PI: the negated divisor keeps the sign on a NaN.
inline double binary_vega_from(double negative_pdf, const BinaryDriver& d, double vol, OptionType cp, double df) {
    return signed_for(cp, negative_pdf * df * d.x / vol);
}
}  // namespace detail

double binary_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df);
double binary_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df);  // dV/dF
double binary_gamma(double fwd, double strike, double ttx, double vol, OptionType cp, double df);  // d2V/dF2
double binary_speed(double fwd, double strike, double ttx, double vol, OptionType cp, double df);  // d3V/dF3
double binary_vega(double fwd, double strike, double ttx, double vol, OptionType cp, double df);   // dV/dvol
double binary_theta(double fwd, double strike, double ttx, double vol, OptionType cp, double df);  // -dV/dT

}  // namespace tessel::analytics
