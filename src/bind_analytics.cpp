// Module functions: option values, sensitivities and implied volatility.
#include "analytics_table.hpp"
#include "bindings.hpp"
#include "call.hpp"

namespace tessel::py {
namespace {

template <Decl D, auto Op>
struct ScalarFunction {
    static constexpr PyMethodDef entry() { return function<D, Op>(); }
};

}  // namespace

PyMethodDef* const analytics_functions = analytics_table<ScalarFunction>;

}  // namespace tessel::py
