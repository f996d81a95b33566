#include "analytics/implied_vol.hpp"

#include <cmath>
#include <limits>

#include "analytics/black76.hpp"
#include "analytics/brent.hpp"
#include "analytics/normal.hpp"

namespace tessel::analytics {

double calibrate_black76_iv(double ttx, double fwd, double strike, double price, OptionType cp, double df) {
    constexpr double LOW = 0.01;
    constexpr double HIGH = 10.0;
    constexpr double TOL = 1e-4;
    constexpr int MAX_ITER = 100;
    constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
    // b76_fairvalue minus the price, with its vol-free parts computed once.
    const double log_fk = std::log(fwd / strike);
    const double sqrt_t = std::sqrt(ttx);
    // The drift 0.5 * vol * vol * ttx is ((0.5 * vol) * vol) * ttx. Where no
    // step leaves the normal range (vol within the interval, ttx >= 2^-1021)
    // halving is exact, so (vol * vol) * (0.5 * ttx) rounds to the same
    // number, one multiplication sooner on the path that every step waits for.
    const double half_t = 0.5 * ttx;
    const bool regroup = ttx >= 0x1p-1021;
    const auto objective = [&](double vol) {
        if (guarded(ttx, vol)) return b76_fairvalue(fwd, strike, ttx, vol, cp, df) - price;
        const double vol_sqrt_t = vol * sqrt_t;
        const double drift = regroup && vol >= LOW && vol <= HIGH ? vol * vol * half_t : 0.5 * vol * vol * ttx;
        const double d1 = (log_fk + drift) / vol_sqrt_t;
        return detail::b76_from_d(fwd, strike, cp, df, d1, d1 - vol_sqrt_t) - price;
    };
    // A root not bracketed gives NaN. So does a NaN objective at either end,
    // which Brent would otherwise bisect down to the lower end and report
    // 0.01 as if it were a volatility.
    const double f_low = objective(LOW);
    const double f_high = objective(HIGH);
    if (std::isnan(f_low) || std::isnan(f_high) || f_low * f_high > 0.0) return NOT_A_NUMBER;
    return brent_solve(objective, LOW, f_low, HIGH, f_high, TOL, MAX_ITER);
}

}  // namespace tessel::analytics
