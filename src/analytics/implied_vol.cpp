#include "analytics/implied_vol.hpp"

#include <cmath>
#include <limits>

#include "analytics/black76.hpp"
#include "analytics/brent.hpp"

namespace tessel::analytics {

double calibrate_black76_iv(double ttx, double fwd, double strike, double price, OptionType cp, double df) {
    constexpr double kLow = 0.01;
    constexpr double kHigh = 10.0;
    constexpr double kTol = 1e-4;
    constexpr int kMaxIter = 100;
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    // b76_fairvalue minus the price, with its vol-free parts computed once.
    const double log_fk = std::log(fwd / strike);
    const double sqrt_t = std::sqrt(ttx);
    const auto objective = [&](double vol) {
        if (ttx <= 0.0 || vol <= 0.0) return b76_fairvalue(fwd, strike, ttx, vol, cp, df) - price;
        return detail::b76_value(fwd, strike, ttx, vol, cp, df, log_fk, sqrt_t) - price;
    };
    // The ends are evaluated here rather than inside brent_solve so that a NaN
    // objective is caught before the search: Brent would otherwise bisect it
    // down to the lower end and report 0.01 as if it were a volatility.
    const double f_low = objective(kLow);
    const double f_high = objective(kHigh);
    if (std::isnan(f_low) || std::isnan(f_high) || f_low * f_high > 0.0) return kNaN;
    return detail::brent_iterate(objective, kLow, f_low, kHigh, f_high, kTol, kMaxIter);
}

Result<double> calibrate_black76_iv(double ttx, double fwd, double strike, double price, std::string_view call_put,
                                    double df) {
    return with_option_type(call_put,
                            [&](OptionType cp) { return calibrate_black76_iv(ttx, fwd, strike, price, cp, df); });
}

}  // namespace tessel::analytics
