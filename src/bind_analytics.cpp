// Module functions: option values, sensitivities and implied volatility.
#include "analytics/black76.hpp"
#include "analytics/binary.hpp"
#include "analytics/implied_vol.hpp"
#include "bindings.hpp"
#include "call.hpp"

namespace tessel::py {
namespace {

namespace an = tessel::analytics;

using WithType = Result<double> (*)(double, double, double, double, std::string_view, double);
using WithoutType = double (*)(double, double, double, double, double);

consteval auto option_sig(const char* name) {
    return function_sig(name, {"fwd", "strike", "ttx", "vol", "call_put", "df"}, 5);
}
consteval auto greek_sig(const char* name) { return function_sig(name, {"fwd", "strike", "ttx", "vol", "df"}, 4); }

constexpr auto b76_fairvalue_sig = option_sig("b76_fairvalue");
constexpr auto b76_delta_sig = option_sig("b76_delta");
constexpr auto b76_vega_sig = greek_sig("b76_vega");
constexpr auto b76_gamma_sig = greek_sig("b76_gamma");
constexpr auto binary_fairvalue_sig = option_sig("binary_fairvalue");
constexpr auto binary_vega_sig = option_sig("binary_vega");
constexpr auto binary_delta_sig = option_sig("binary_delta");
constexpr auto binary_gamma_sig = option_sig("binary_gamma");
constexpr auto binary_speed_sig = option_sig("binary_speed");
constexpr auto binary_theta_sig = option_sig("binary_theta");
constexpr auto calibrate_sig =
    function_sig("calibrate_black76_iv", {"ttx", "fwd", "strike", "price", "call_put", "df"}, 5);

}  // namespace

PyMethodDef analytics_functions[] = {
    method<b76_fairvalue_sig, static_cast<WithType>(&an::b76_fairvalue)>(
        "b76_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0)\n--\n\n"),
    method<b76_delta_sig, static_cast<WithType>(&an::b76_delta)>(
        "b76_delta(fwd, strike, ttx, vol, call_put, df=1.0)\n--\n\n"),
    method<b76_vega_sig, static_cast<WithoutType>(&an::b76_vega)>("b76_vega(fwd, strike, ttx, vol, df=1.0)\n--\n\n"),
    method<b76_gamma_sig, static_cast<WithoutType>(&an::b76_gamma)>(
        "b76_gamma(fwd, strike, ttx, vol, df=1.0)\n--\n\n"),
    method<binary_fairvalue_sig, static_cast<WithType>(&an::binary_fairvalue)>(
        "binary_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0)\n--\n\n"),
    method<binary_vega_sig, static_cast<WithType>(&an::binary_vega)>(
        "binary_vega(fwd, strike, ttx, vol, call_put, df=1.0)\n--\n\n"),
    method<binary_delta_sig, static_cast<WithType>(&an::binary_delta)>(
        "binary_delta(fwd, strike, ttx, vol, call_put, df=1.0)\n--\n\n"),
    method<binary_gamma_sig, static_cast<WithType>(&an::binary_gamma)>(
        "binary_gamma(fwd, strike, ttx, vol, call_put, df=1.0)\n--\n\n"),
    method<binary_speed_sig, static_cast<WithType>(&an::binary_speed)>(
        "binary_speed(fwd, strike, ttx, vol, call_put, df=1.0)\n--\n\n"),
    method<binary_theta_sig, static_cast<WithType>(&an::binary_theta)>(
        "binary_theta(fwd, strike, ttx, vol, call_put, df=1.0)\n--\n\n"),
    method<calibrate_sig, static_cast<WithType>(&an::calibrate_black76_iv)>(
        "calibrate_black76_iv(ttx, fwd, strike, price, call_put, df=1.0)\n--\n\n"),
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace tessel::py
