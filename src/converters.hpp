#pragma once
// The converters: how each parameter type of an operation is read from its
// argument (ArgConv) and each result type becomes a Python object
// (ResultConv). The conversions themselves are in convert.hpp; a binding adds
// the converters of its own result types beside its table.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "analytics/option_type.hpp"
#include "classes.hpp"
#include "convert.hpp"
#include "core/result.hpp"
#include "errors.hpp"
#include "module_state.hpp"

namespace tessel::py {

// ---- argument conversions by parameter type ----

// What a call carries through its conversions: the module state of its
// interpreter, and an error that waits until every argument has converted
// (a text that names no option type is only reported after the later
// arguments, whose own conversion errors come first).
struct Call {
    ModuleState& state;
    std::optional<std::string> later;
};

// ArgConv<T>::convert(object, value, call); `decorate` says whether a
// TypeError gets the argument's name.
template <class T>
struct ArgConv;

template <class T, bool (*F)(PyObject*, T&)>
struct PlainConv {
    static constexpr bool decorate = true;
    static bool convert(PyObject* o, T& v, Call&) { return F(o, v); }
};

template <>
struct ArgConv<double> : PlainConv<double, to_double> {};
template <>
struct ArgConv<std::int64_t> : PlainConv<std::int64_t, to_int64> {};
template <>
struct ArgConv<std::string_view> : PlainConv<std::string_view, to_text> {};
template <>
struct ArgConv<std::vector<double>> : PlainConv<std::vector<double>, to_doubles> {};
template <>
struct ArgConv<std::vector<std::string>> : PlainConv<std::vector<std::string>, to_texts> {};
template <>
struct ArgConv<NamedDoubles> : PlainConv<NamedDoubles, to_named_doubles> {};
template <>
struct ArgConv<analytics::OptionType> {
    static constexpr bool decorate = true;
    static bool convert(PyObject* o, analytics::OptionType& v, Call& call) {
        return to_option_type(o, v, call.later, call.state);
    }
};
template <>
struct ArgConv<Instant> {
    static constexpr bool decorate = false;  // instants keep their own errors
    static bool convert(PyObject* o, Instant& v, Call& call) { return to_instant(o, v, call.state); }
};

// What a converted argument is held in until the call: a span views a vector.
template <class T>
struct Stored {
    using type = T;
};
template <class T>
struct Stored<std::span<const T>> {
    using type = std::vector<T>;
};
template <class Args>
struct StoredArgs;
template <class... A>
struct StoredArgs<std::tuple<A...>> {
    using type = std::tuple<typename Stored<std::remove_cvref_t<A>>::type...>;
};

// ---- result conversions by result type ----

// A new reference to None. Not Py_RETURN_NONE: the headers of 3.12 and later
// define it without the increment whatever the limited-API version, and a
// module built with them would then drain None's count on 3.10 and 3.11.
// (From 3.12 on None is immortal, and the increment leaves it as it is.)
inline PyObject* new_none() noexcept {
    Py_INCREF(Py_None);
    return Py_None;
}

template <class T, class = void>
struct ResultConv;

// ResultConv<T>::convert(value, state): a new reference, or nullptr with an
// exception set.
template <class T, PyObject* (*F)(T) noexcept>
struct PlainResult {
    static PyObject* convert(T v, ModuleState&) { return F(v); }
};

template <>
struct ResultConv<double> : PlainResult<double, from_double> {};
template <>
struct ResultConv<bool> : PlainResult<bool, from_bool> {};
template <>
struct ResultConv<std::vector<double>> : PlainResult<const std::vector<double>&, from_doubles> {};
template <>
struct ResultConv<std::vector<std::string>> : PlainResult<const std::vector<std::string>&, from_texts> {};
template <>
struct ResultConv<NamedDoubles> : PlainResult<const NamedDoubles&, from_named_doubles> {};
template <>
struct ResultConv<Instant> {
    static PyObject* convert(const Instant& v, ModuleState& state) { return from_instant(v, state); }
};
template <class T>
struct ResultConv<std::optional<T>> {
    static PyObject* convert(std::optional<T>&& v, ModuleState& state) {
        if (!v) return new_none();
        return ResultConv<T>::convert(std::move(*v), state);
    }
};
template <class T>
struct ResultConv<Result<T>> {
    static PyObject* convert(Result<T>&& r, ModuleState& state) {
        if (!r.ok()) {
            raise_value_error(r.error().message);
            return nullptr;
        }
        return ResultConv<T>::convert(std::move(r).value(), state);
    }
};
// A value of a bound class becomes a new instance of that class.
template <class V>
struct ResultConv<V, std::enable_if_t<is_bound<V>::value>> {
    static PyObject* convert(V&& v, ModuleState& state) { return new_instance(state, std::move(v)); }
};

template <class R>
PyObject* to_python(R&& r, ModuleState& state) {
    return ResultConv<std::decay_t<R>>::convert(std::forward<R>(r), state);
}

}  // namespace tessel::py
