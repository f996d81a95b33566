#pragma once
// The generic calling convention. A binding declares each callable once, as
// its Python signature and the plain C++ operation behind it:
//     function<"b76_vega(fwd, strike, ttx, vol, df=1.0)", &analytics::b76_vega>()
//     method<Calendar, "get_bus_ttx(from, to)", &Calendar::get_bus_ttx>()
// and the templates below derive everything else from the declaration and
// the operation's types: the text signature, argument matching, the calling
// convention, whether self is taken shared (a const member function, or a
// first parameter of type const V&) or exclusive (non-const), the conversion
// of each argument by its type, the conversion of the result by its type,
// and PanicException for any C++ exception.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "access.hpp"
#include "analytics/option_type.hpp"
#include "convert.hpp"
#include "core/result.hpp"
#include "errors.hpp"
#include "module_state.hpp"
#include "signature.hpp"

namespace tessel::py {

// Which declared parameter each argument of the operation reads, in the
// operation's order, which is also the order of conversion. The default is
// the declared order.
struct Order {
    std::array<std::size_t, MAX_PARAMS> of{0, 1, 2, 3, 4, 5, 6, 7};
};

// Matching: fills slots[0..count) with borrowed references (nullptr where not
// given; a collecting parameter's slot gets a new dict of the unmatched
// keywords, held by `extra`, or stays empty). False with TypeError set on a
// mismatch. `owner` is the class name in messages, nullptr for functions.
bool match_fastcall(const Signature& sig, const char* owner, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots, Ref& extra);
bool match_tuple(const Signature& sig, const char* owner, PyObject* args, PyObject* kwargs, PyObject** slots,
                 Ref& extra);

// Instance record of every class: header, access flag, the module state of
// its class (which the instance keeps alive through its type), value.
struct InstanceHead {
    PyObject_HEAD
    AccessFlag flag;
    ModuleState* state;
};
template <class V>
struct Instance : InstanceHead {
    V value;
};

// The state of an instance's module; nullptr with RuntimeError set when the
// instance belongs to another interpreter. Only for instances of the
// module's classes, which their methods' descriptors have checked.
inline ModuleState* state_of_instance(PyObject* self) noexcept {
    return checked(reinterpret_cast<InstanceHead*>(self)->state);
}

// Specialised per bound class: `static constexpr const char* name` and
// `static constexpr std::size_t index`, its place in the module state's types.
template <class V>
struct Bound;

template <class V, class = void>
struct is_bound : std::false_type {};
template <class V>
struct is_bound<V, std::void_t<decltype(Bound<V>::index)>> : std::true_type {};

// The class V of this interpreter; nullptr with RuntimeError set once the
// module is torn down.
template <class V>
PyTypeObject* type_of(const ModuleState& state) noexcept {
    static_assert(Bound<V>::index < CLASS_COUNT);
    PyTypeObject* type = state.types[Bound<V>::index];
    if (type == nullptr) PyErr_SetString(PyExc_RuntimeError, messages::MODULE_CLEARED);
    return type;
}

template <class V>
PyObject* new_instance(ModuleState& state, V&& value) {
    static_assert(std::is_nothrow_move_constructible_v<V>);
    PyTypeObject* type = type_of<V>(state);
    if (type == nullptr) return nullptr;
    PyObject* obj = PyType_GenericAlloc(type, 0);
    if (obj == nullptr) return nullptr;
    auto* inst = reinterpret_cast<Instance<V>*>(obj);
    new (&inst->flag) AccessFlag(0);
    inst->state = &state;
    new (&inst->value) V(std::move(value));
    return obj;
}

template <class V>
void dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    auto* inst = reinterpret_cast<Instance<V>*>(self);
    inst->value.~V();
    inst->flag.~AccessFlag();
    static const auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(&PyBaseObject_Type, Py_tp_free));
    free_object(self);
    Py_DECREF(type);
}

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

// ---- the operation's shape ----

template <class... A>
struct Params {
    using Self = void;
    using Args = std::tuple<A...>;
};
// A free function whose first parameter is a bound value takes it as self.
template <class P0, class... A>
struct Params<P0, A...> {
    static constexpr bool self_first = is_bound<std::remove_cvref_t<P0>>::value && std::is_reference_v<P0>;
    using Self = std::conditional_t<self_first, P0, void>;
    using Args = std::conditional_t<self_first, std::tuple<A...>, std::tuple<P0, A...>>;
};

template <class F>
struct OpTraits;
template <class R, class... A>
struct OpTraits<R (*)(A...)> : Params<A...> {
    using Ret = R;
};
template <class R, class... A>
struct OpTraits<R (*)(A...) noexcept> : OpTraits<R (*)(A...)> {};
template <class R, class C, class... A>
struct OpTraits<R (C::*)(A...) const> {
    using Ret = R;
    using Self = const C&;
    using Args = std::tuple<A...>;
};
template <class R, class C, class... A>
struct OpTraits<R (C::*)(A...) const noexcept> : OpTraits<R (C::*)(A...) const> {};
template <class R, class C, class... A>
struct OpTraits<R (C::*)(A...)> {
    using Ret = R;
    using Self = C&;
    using Args = std::tuple<A...>;
};
template <class R, class C, class... A>
struct OpTraits<R (C::*)(A...) noexcept> : OpTraits<R (C::*)(A...)> {};

template <auto Op>
struct Shape {
    using Traits = OpTraits<decltype(Op)>;
    using Ret = typename Traits::Ret;
    using SelfRef = typename Traits::Self;
    static constexpr bool has_self = !std::is_void_v<SelfRef>;
    using Values = typename StoredArgs<typename Traits::Args>::type;
    static constexpr std::size_t arity = std::tuple_size_v<Values>;
};

bool check_self(PyObject* self, PyTypeObject* type, const char* class_name) noexcept;

template <const Signature& Sig, Order O, std::size_t I, class Values>
bool convert_arg(PyObject* const* slots, Values& values, Call& call) {
    using T = std::tuple_element_t<I, Values>;
    constexpr std::size_t slot = O.of[I];
    static_assert(slot < Sig.count, "the operation takes more arguments than the declaration names");
    static_assert(!Sig.params[slot].optional || std::is_same_v<T, double>, "only a number can have a default");
    PyObject* obj = slots[slot];
    T& out = std::get<I>(values);
    if (obj == nullptr) {
        // Missing: an optional parameter takes its default, an absent keyword dict is empty.
        if constexpr (Sig.params[slot].optional) out = Sig.params[slot].default_value;
        return true;
    }
    const bool ok = ArgConv<T>::convert(obj, out, call);
    if (!ok && ArgConv<T>::decorate) decorate_argument_error(Sig.param_name(slot));
    return ok;
}

template <const Signature& Sig, Order O, class Values, std::size_t... I>
bool convert_args([[maybe_unused]] PyObject* const* slots, [[maybe_unused]] Values& values,
                  [[maybe_unused]] Call& call, std::index_sequence<I...>) {
    return (convert_arg<Sig, O, I>(slots, values, call) && ...);
}

// Every step of a call after matching.
template <const Signature& Sig, auto Op, Order O>
PyObject* run(ModuleState& state, PyObject* self, PyObject* const* slots) {
    using S = Shape<Op>;
    using Ret = typename S::Ret;
    typename S::Values values;
    AccessGuard guard;
    auto finish = [&](auto&... self_value) -> PyObject* {
        Call call{state, std::nullopt};
        if (!convert_args<Sig, O>(slots, values, call, std::make_index_sequence<S::arity>{})) return nullptr;
        if (call.later) {
            raise_value_error(*call.later);
            return nullptr;
        }
        auto invoke = [&](auto&... a) -> Ret { return std::invoke(Op, self_value..., std::move(a)...); };
        if constexpr (std::is_void_v<Ret>) {
            std::apply(invoke, values);
            guard.release();
            return new_none();
        } else {
            Ret r = std::apply(invoke, values);
            guard.release();
            return to_python(std::move(r), state);
        }
    };
    if constexpr (S::has_self) {
        using V = std::remove_cvref_t<typename S::SelfRef>;
        constexpr Access access = std::is_const_v<std::remove_reference_t<typename S::SelfRef>> ? Access::Shared
                                                                                               : Access::Exclusive;
        if (!check_self(self, type_of<V>(state), Bound<V>::name)) return nullptr;
        auto* inst = reinterpret_cast<Instance<V>*>(self);
        if (!guard.acquire(inst->flag, access)) return nullptr;
        return finish(inst->value);
    } else {
        return finish();
    }
}

// ---- entry wrappers, one per calling convention ----

// Where a callable finds its module state: a module function's self is the
// module, a method's self an instance; a static method has no self.
enum class From { Module, Instance, Interpreter };

template <From F>
ModuleState* state_from(PyObject* self) noexcept {
    if constexpr (F == From::Module)
        return state_of_module(self);
    else if constexpr (F == From::Instance)
        return state_of_instance(self);
    else
        return state_of_interpreter();
}

template <const Signature& Sig, const char* const& Owner, auto Op, Order O, From F>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    ModuleState* state = state_from<F>(self);
    if (state == nullptr) return nullptr;
    try {
        PyObject* slots[MAX_PARAMS] = {};
        Ref extra;
        if (kwnames == nullptr && static_cast<std::size_t>(nargs) >= Sig.required &&
            static_cast<std::size_t>(nargs) <= Sig.positional) {
            std::copy(args, args + nargs, slots);
        } else if (!match_fastcall(Sig, Owner, args, nargs, kwnames, slots, extra)) {
            return nullptr;
        }
        return run<Sig, Op, O>(*state, self, slots);
    } catch (...) {
        raise_panic_from_current(state);
        return nullptr;
    }
}

template <const Signature& Sig, const char* const& Owner, auto Op, Order O>
PyObject* construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    ModuleState* state = state_of_type(type);
    if (state == nullptr) return nullptr;
    try {
        PyObject* slots[MAX_PARAMS] = {};
        Ref extra;
        if (!match_tuple(Sig, Owner, args, kwargs, slots, extra)) return nullptr;
        return run<Sig, Op, O>(*state, nullptr, slots);
    } catch (...) {
        raise_panic_from_current(state);
        return nullptr;
    }
}

inline constexpr Signature NO_PARAMS = parse_signature("noargs()");

template <auto Op>
PyObject* noargs(PyObject* self, PyObject*) noexcept {
    ModuleState* state = state_of_instance(self);
    if (state == nullptr) return nullptr;
    try {
        return run<NO_PARAMS, Op, Order{}>(*state, self, nullptr);
    } catch (...) {
        raise_panic_from_current(state);
        return nullptr;
    }
}

template <auto Op>
PyObject* getter(PyObject* self, void*) noexcept {
    return noargs<Op>(self, nullptr);
}

template <auto Op>
PyObject* repr_slot(PyObject* self) noexcept {
    return noargs<Op>(self, nullptr);
}

// ---- method-table entries ----

inline constexpr const char* NO_OWNER = nullptr;

template <class T>
constexpr PyCFunction as_cfunction(T* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

// A module function.
template <Decl D, auto Op, Order O = Order{}>
constexpr PyMethodDef function() {
    constexpr const Signature& sig = signature_of<D>;
    static_assert(!Shape<Op>::has_self);
    return {sig.name(), as_cfunction(&fastcall<sig, NO_OWNER, Op, O, From::Module>), METH_FASTCALL | METH_KEYWORDS,
            text_signature<D, false>.data()};
}

// A method of class V: static when the operation takes no self, and without
// arguments when the declaration has none.
template <class V, Decl D, auto Op, Order O = Order{}>
constexpr PyMethodDef method() {
    constexpr const Signature& sig = signature_of<D>;
    constexpr bool self = Shape<Op>::has_self;
    constexpr const char* doc = text_signature<D, self>.data();
    if constexpr (self && sig.count == 0)
        return {sig.name(), as_cfunction(&noargs<Op>), METH_NOARGS, doc};
    else
        return {sig.name(), as_cfunction(&fastcall<sig, Bound<V>::name, Op, O, self ? From::Instance : From::Interpreter>),
                METH_FASTCALL | METH_KEYWORDS | (self ? 0 : METH_STATIC), doc};
}

// "builtins.<name>": the classes live there, as the interpreter's own do.
template <class V>
inline constexpr auto builtins_name = [] {
    constexpr std::string_view prefix = "builtins.", name = Bound<V>::name;
    std::array<char, prefix.size() + name.size() + 1> out{};
    std::copy(name.begin(), name.end(), std::copy(prefix.begin(), prefix.end(), out.data()));
    return out;
}();

struct TypeParts {
    const char* qualified_name;
    int basicsize;
    const char* doc;
    newfunc tp_new;
    destructor tp_dealloc;
    reprfunc tp_repr;
    PyMethodDef* methods;
    PyGetSetDef* getset;  // may be null
};

// A class's type object from its parts, belonging to `module`; a new
// reference, or nullptr with an exception set.
PyTypeObject* make_type(PyObject* module, const TypeParts& parts) noexcept;

// The type of class V for one module object, from its constructor's
// declaration ("__new__(...)", shown in the docstring under the class's
// name), its method table, getters and repr.
template <class V, Decl D, auto Op, Order O = Order{}>
PyTypeObject* class_type(PyObject* module, PyMethodDef* methods, PyGetSetDef* getset, reprfunc repr) noexcept {
    constexpr const Signature& sig = signature_of<D>;
    return make_type(module, {builtins_name<V>.data(), sizeof(Instance<V>), text_signature<D, false, Bound<V>>.data(),
                              &construct<sig, Bound<V>::name, Op, O>, &dealloc<V>, repr, methods, getset});
}

}  // namespace tessel::py
