#pragma once
// Black-76 value and sensitivities of a European option on a forward.
// A non-positive time or volatility gives the guard value: the discounted
// intrinsic value, or 0 for a sensitivity. NaN does not trigger the guard.
#include <algorithm>

#include "analytics/normal.hpp"
#include "analytics/option_type.hpp"

namespace tessel::analytics {

namespace detail {
// Each function is split where it calls log, exp or erfc, so that a kernel
// over many elements (batch.cpp) can compute those for all of them at once
// and finish each element with the very formulas of the scalar function.
// Here and below the operations keep the written order (products before the
// division, left to right): the results are pinned to the bit.

// d1 from log(F / K): (ln(F/K) + vol^2 T / 2) / (vol sqrt(T)).
inline double d1_from_log(double log_fk, double ttx, double vol, double vol_sqrt_t) {
    return (log_fk + 0.5 * vol * vol * ttx) / vol_sqrt_t;
}

// The guard value: the discounted intrinsic value. std::max keeps a NaN
// first argument, so NaN inputs stay NaN.
inline double b76_guard_value(double fwd, double strike, OptionType cp, double df) {
    return cp == OptionType::Call ? df * std::max(fwd - strike, 0.0) : df * std::max(strike - fwd, 0.0);
}

// The value from the probabilities that weigh F and K: N(d1) and N(d2) for a
// call, N(-d1) and N(-d2) for a put. 1 * x is x, NaN included, so D = 1
// skips the multiplication.
inline double b76_from_cdfs(double fwd, double strike, OptionType cp, double df, double n_fwd, double n_strike) {
    const double undiscounted = cp == OptionType::Call ? fwd * n_fwd - strike * n_strike : strike * n_strike - fwd * n_fwd;
    return df == 1.0 ? undiscounted : df * undiscounted;
}

// The value from d1 and d2: D (F N(d1) - K N(d2)), or D (K N(-d2) - F N(-d1)).
inline double b76_from_d(double fwd, double strike, OptionType cp, double df, double d1, double d2) {
    double n_fwd, n_strike;
    if (cp == OptionType::Call)
        norm_cdf_pair(d1, d2, n_fwd, n_strike);
    else
        norm_cdf_pair(-d2, -d1, n_strike, n_fwd);
    return b76_from_cdfs(fwd, strike, cp, df, n_fwd, n_strike);
}

// The value past the guard, given log(F / K) and sqrt(T): a search over vol
// passes the same two numbers to every evaluation instead of recomputing them.
inline double b76_value(double fwd, double strike, double ttx, double vol, OptionType cp, double df, double log_fk,
                        double sqrt_t) {
    const double vol_sqrt_t = vol * sqrt_t;
    const double d1 = d1_from_log(log_fk, ttx, vol, vol_sqrt_t);
    const double d2 = d1 - vol_sqrt_t;
    return b76_from_d(fwd, strike, cp, df, d1, d2);
}

// The sensitivities from the density at d1.
inline double b76_delta_from(double pdf, double fwd, double vol, double sqrt_t, OptionType cp, double df) {
    const double g = pdf * df / (fwd * vol * sqrt_t);
    return cp == OptionType::Call ? g : -g;
}
inline double b76_vega_from(double pdf, double fwd, double sqrt_t, double df) { return pdf * (df * fwd) * sqrt_t; }
inline double b76_gamma_from(double pdf, double fwd, double vol, double sqrt_t, double df) {
    return pdf * df / (fwd * fwd * vol * sqrt_t);
}
}  // namespace detail

double b76_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df);
// D * pdf(d1) / (F * vol * sqrt(T)), negated for a put.
double b76_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df);
// Per 1.0 of volatility.
double b76_vega(double fwd, double strike, double ttx, double vol, double df);
double b76_gamma(double fwd, double strike, double ttx, double vol, double df);

}  // namespace tessel::analytics
