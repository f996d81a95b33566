#pragma once
// Black-76 value and sensitivities of a European option on a forward.
// A non-positive time or volatility gives the guard value: the discounted
// intrinsic value, or 0 for a sensitivity. NaN does not trigger the guard.
#include "analytics/normal.hpp"
#include "analytics/option_type.hpp"

namespace tessel::analytics {

namespace detail {
// The value from d1 and d2: D (F N(d1) - K N(d2)), or D (K N(-d2) - F N(-d1)).
// 1 * x is x, NaN included, so D = 1 skips the multiplication.
inline double b76_from_d(double fwd, double strike, OptionType cp, double df, double d1, double d2) {
    double n1, n2, undiscounted;
    if (cp == OptionType::Call) {
        norm_cdf_pair(d1, d2, n1, n2);
        undiscounted = fwd * n1 - strike * n2;
    } else {
        norm_cdf_pair(-d2, -d1, n2, n1);
        undiscounted = strike * n2 - fwd * n1;
    }
    return df == 1.0 ? undiscounted : df * undiscounted;
}

// The value past the guard, given log(F / K) and sqrt(T): a search over vol
// passes the same two numbers to every evaluation instead of recomputing them.
// Here and in the sensitivities the operations keep the written order
// (products before the division, left to right): the results are pinned to
// the bit.
inline double b76_value(double fwd, double strike, double ttx, double vol, OptionType cp, double df, double log_fk,
                        double sqrt_t) {
    const double vol_sqrt_t = vol * sqrt_t;
    const double d1 = (log_fk + 0.5 * vol * vol * ttx) / vol_sqrt_t;
    const double d2 = d1 - vol_sqrt_t;
    return b76_from_d(fwd, strike, cp, df, d1, d2);
}
}  // namespace detail

double b76_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df);
// D * pdf(d1) / (F * vol * sqrt(T)), negated for a put.
double b76_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df);
// Per 1.0 of volatility.
double b76_vega(double fwd, double strike, double ttx, double vol, double df);
double b76_gamma(double fwd, double strike, double ttx, double vol, double df);

}  // namespace tessel::analytics
