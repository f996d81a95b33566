#pragma once
// Cash-or-nothing binary options paying D if the forward ends above (call) or
// below (put) the strike. The model's driver is x = ln(F/K) / (vol sqrt(T)),
// with no drift term; each sensitivity is the exact derivative of the value
// D N(x) (call) or D N(-x) (put), the put's being the call's negated.
// A non-positive time or volatility gives the guard value: the discounted
// payoff at expiry (0 at the money), or 0 for a sensitivity.
#include "analytics/option_type.hpp"

namespace tessel::analytics {

double binary_fairvalue(double fwd, double strike, double ttx, double vol, OptionType cp, double df);
double binary_delta(double fwd, double strike, double ttx, double vol, OptionType cp, double df);  // dV/dF
double binary_gamma(double fwd, double strike, double ttx, double vol, OptionType cp, double df);  // d2V/dF2
double binary_speed(double fwd, double strike, double ttx, double vol, OptionType cp, double df);  // d3V/dF3
double binary_vega(double fwd, double strike, double ttx, double vol, OptionType cp, double df);   // dV/dvol
double binary_theta(double fwd, double strike, double ttx, double vol, OptionType cp, double df);  // -dV/dT

}  // namespace tessel::analytics
