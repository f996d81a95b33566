#pragma once
// Black-76 implied volatility by Brent's method on vol in [0.01, 10].
#include "analytics/option_type.hpp"

namespace tessel::analytics {

// NaN when the price cannot be matched inside the interval, and when the
// objective is NaN at either end (a NaN price, forward, strike or df).
// Note the argument order: time first.
double calibrate_black76_iv(double ttx, double fwd, double strike, double price, OptionType cp, double df);

}  // namespace tessel::analytics
