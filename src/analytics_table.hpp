#pragma once
// The eleven analytics, each declared once as its signature and operation:
// tessel binds them as scalar functions (bind_analytics.cpp), tessel_array
// over arrays (array_module.cpp). Entry<D, Op>::entry() makes a module's
// method-table entry of one.
#include "analytics/binary.hpp"
#include "analytics/black76.hpp"
#include "analytics/implied_vol.hpp"
#include "py.hpp"
#include "signature.hpp"

namespace tessel::py {

template <template <Decl, auto> class Entry>
inline PyMethodDef analytics_table[] = {
    Entry<"b76_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0)", &analytics::b76_fairvalue>::entry(),
    Entry<"b76_delta(fwd, strike, ttx, vol, call_put, df=1.0)", &analytics::b76_delta>::entry(),
    Entry<"b76_vega(fwd, strike, ttx, vol, df=1.0)", &analytics::b76_vega>::entry(),
    Entry<"b76_gamma(fwd, strike, ttx, vol, df=1.0)", &analytics::b76_gamma>::entry(),
    Entry<"binary_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0)", &analytics::binary_fairvalue>::entry(),
    Entry<"binary_vega(fwd, strike, ttx, vol, call_put, df=1.0)", &analytics::binary_vega>::entry(),
    Entry<"binary_delta(fwd, strike, ttx, vol, call_put, df=1.0)", &analytics::binary_delta>::entry(),
    Entry<"binary_gamma(fwd, strike, ttx, vol, call_put, df=1.0)", &analytics::binary_gamma>::entry(),
    Entry<"binary_speed(fwd, strike, ttx, vol, call_put, df=1.0)", &analytics::binary_speed>::entry(),
    Entry<"binary_theta(fwd, strike, ttx, vol, call_put, df=1.0)", &analytics::binary_theta>::entry(),
    Entry<"calibrate_black76_iv(ttx, fwd, strike, price, call_put, df=1.0)", &analytics::calibrate_black76_iv>::entry(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tessel::py
