// Module functions: option values, sensitivities and implied volatility.
#include "analytics/black76.hpp"
#include "analytics/binary.hpp"
#include "analytics/implied_vol.hpp"
#include "bindings.hpp"
#include "call.hpp"

namespace tessel::py {

namespace an = tessel::analytics;

PyMethodDef analytics_functions[] = {
    function<"b76_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0)", &an::b76_fairvalue>(),
    function<"b76_delta(fwd, strike, ttx, vol, call_put, df=1.0)", &an::b76_delta>(),
    function<"b76_vega(fwd, strike, ttx, vol, df=1.0)", &an::b76_vega>(),
    function<"b76_gamma(fwd, strike, ttx, vol, df=1.0)", &an::b76_gamma>(),
    function<"binary_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0)", &an::binary_fairvalue>(),
    function<"binary_vega(fwd, strike, ttx, vol, call_put, df=1.0)", &an::binary_vega>(),
    function<"binary_delta(fwd, strike, ttx, vol, call_put, df=1.0)", &an::binary_delta>(),
    function<"binary_gamma(fwd, strike, ttx, vol, call_put, df=1.0)", &an::binary_gamma>(),
    function<"binary_speed(fwd, strike, ttx, vol, call_put, df=1.0)", &an::binary_speed>(),
    function<"binary_theta(fwd, strike, ttx, vol, call_put, df=1.0)", &an::binary_theta>(),
    function<"calibrate_black76_iv(ttx, fwd, strike, price, call_put, df=1.0)", &an::calibrate_black76_iv>(),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tessel::py
