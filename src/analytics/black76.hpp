#pragma once
// Black-76 value and sensitivities of a European option on a forward.
// A non-positive time or volatility gives the guard value: the discounted
// intrinsic value, or 0 for a sensitivity. NaN does not trigger the guard.
#include <string_view>

#include "analytics/option_type.hpp"
#include "core/result.hpp"

namespace tessel::analytics {

double b76_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df);
// D * pdf(d1) / (F * vol * sqrt(T)), negated for a put.
double b76_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df);
// Per 1.0 of volatility.
double b76_vega(double fwd, double strike, double ttx, double vol, double df);
double b76_gamma(double fwd, double strike, double ttx, double vol, double df);

Result<double> b76_fairvalue(double fwd, double strike, double ttx, double vol, std::string_view call_put,
                             double df);
Result<double> b76_delta(double fwd, double strike, double ttx, double vol, std::string_view call_put, double df);

}  // namespace tessel::analytics
