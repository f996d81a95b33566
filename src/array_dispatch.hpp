#pragma once
// Functions over arrays: a scalar analytic declared once with its signature,
//     over_arrays<"b76_vega(fwd, strike, ttx, vol, df=1.0)", &analytics::b76_vega>()
// becomes a module function whose numeric arguments are numbers or
// one-dimensional arrays and whose call_put is a text or a sequence of texts.
// The call matches its arguments as every call of the package does
// (matching.cpp), reads each into a column (arrays.cpp), prefixing a
// TypeError with the argument's name, raises a deferred unknown option type,
// checks that the arrays have one length (ValueError naming both), and fills
// a new float64 array by the batch kernel (analytics/batch.hpp), without the
// interpreter lock when there is enough to compute.
#include <cstddef>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "analytics/batch.hpp"
#include "arrays.hpp"
#include "core/messages.hpp"
#include "dispatch.hpp"

namespace tessel::py {

// What each parameter type of the scalar operation is read into.
template <class T>
struct ColumnOf;
template <>
struct ColumnOf<double> {
    using type = NumberColumn;
};
template <>
struct ColumnOf<analytics::OptionType> {
    using type = TypeColumn;
};
template <class Tuple>
struct ColumnsOf;
template <class... A>
struct ColumnsOf<std::tuple<A...>> {
    using type = std::tuple<typename ColumnOf<A>::type...>;
};

// Numpy releases its lock from about as many elements on: below, the
// handover costs more than another thread gains.
inline constexpr std::size_t RELEASE_LOCK_FROM = 500;

inline bool read_column(PyObject* obj, NumberColumn& c, std::optional<std::string>&, ModuleState& state) {
    return to_number_column(obj, c, state);
}
inline bool read_column(PyObject* obj, TypeColumn& c, std::optional<std::string>& unknown, ModuleState& state) {
    return to_type_column(obj, c, unknown, state);
}

inline analytics::Strided<double> strided(const NumberColumn& c) {
    return c.is_array ? analytics::Strided<double>{c.elements(), 1} : analytics::Strided<double>{&c.number, 0};
}
inline analytics::Strided<analytics::OptionType> strided(const TypeColumn& c) {
    return c.is_array ? analytics::Strided<analytics::OptionType>{c.types.data(), 1}
                      : analytics::Strided<analytics::OptionType>{&c.single, 0};
}
inline bool is_array(const NumberColumn& c) { return c.is_array; }
inline bool is_array(const TypeColumn& c) { return c.is_array; }
inline std::size_t size_of(const NumberColumn& c) { return c.size; }
inline std::size_t size_of(const TypeColumn& c) { return c.types.size(); }

template <const Signature& Sig, std::size_t I, class Columns>
bool read_arg(PyObject* const* slots, Columns& columns, std::optional<std::string>& unknown, ModuleState& state) {
    auto& column = std::get<I>(columns);
    PyObject* obj = slots[I];
    if (obj == nullptr) {  // an optional number not given
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(column)>, NumberColumn>)
            column.number = Sig.params[I].default_value;
        return true;
    }
    if (read_column(obj, column, unknown, state)) return true;
    decorate_argument_error(Sig.param_name(I));
    return false;
}

// The common length of the arrays among the columns; false with ValueError
// set when two differ. `any` says whether there was an array.
template <const Signature& Sig, class Columns, std::size_t... I>
bool common_length(const Columns& columns, std::size_t& n, bool& any, std::index_sequence<I...>) {
    std::size_t first = 0;
    const auto check = [&](std::size_t i, const auto& column) {
        if (!is_array(column)) return true;
        if (!any) {
            any = true, first = i, n = size_of(column);
            return true;
        }
        if (size_of(column) == n) return true;
        raise_unequal_lengths(Sig, first, n, i, size_of(column));
        return false;
    };
    return (check(I, std::get<I>(columns)) && ...);
}

template <const Signature& Sig, auto Op>
PyObject* over_arrays_call(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    ModuleState* state = state_of_module(module);
    if (state == nullptr) return nullptr;
    try {
        PyObject* slots[MAX_PARAMS] = {};
        Ref extra;
        if (!match_arguments(Sig, NO_OWNER, args, nargs, kwnames, slots, extra)) return nullptr;
        using Values = typename Shape<Op>::Values;
        constexpr std::size_t arity = std::tuple_size_v<Values>;
        static_assert(arity == Sig.count, "the declaration names every argument of the operation, in its order");
        typename ColumnsOf<Values>::type columns;
        std::optional<std::string> unknown;
        const bool read = [&]<std::size_t... I>(std::index_sequence<I...>) {
            return (read_arg<Sig, I>(slots, columns, unknown, *state) && ...);
        }(std::make_index_sequence<arity>{});
        if (!read) return nullptr;
        if (unknown) {
            raise_value_error(*unknown);
            return nullptr;
        }
        std::size_t n = 0;
        bool any = false;
        if (!common_length<Sig>(columns, n, any, std::make_index_sequence<arity>{})) return nullptr;
        double* out = nullptr;
        Ref result(new_result(*state, n, !any, out));
        if (!result) return nullptr;
        const std::size_t count = any ? n : 1;
        {
            // The columns' memory is owned or held, and the result is not yet
            // anyone else's: no other thread can change or free any of it.
            const WithoutLock unlocked(count >= RELEASE_LOCK_FROM);
            std::apply([&](const auto&... c) { analytics::Over<Op>::run(count, out, strided(c)...); }, columns);
        }
        return result.release();
    } catch (...) {
        raise_panic_from_current(state);
        return nullptr;
    }
}

// A module function over arrays.
template <Decl D, auto Op>
constexpr PyMethodDef over_arrays() {
    constexpr const Signature& sig = signature_of<D>;
    return {sig.name(), as_cfunction(&over_arrays_call<sig, Op>), METH_FASTCALL | METH_KEYWORDS,
            text_signature<D, false>.data()};
}

}  // namespace tessel::py
