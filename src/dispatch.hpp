#pragma once
// Dispatch: from a callable's declaration and its operation's type to the
// entry wrapper the interpreter calls and the table entry that names it
// (function, method, class_type). Each wrapper finds the module state, matches
// the arguments, takes the access flag, converts, runs the operation,
// converts the result, and contains every C++ exception.
#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "access.hpp"
#include "classes.hpp"
#include "converters.hpp"
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

// The fast-call form: positional arguments alone, as many as the signature
// takes, need no matching.
inline bool match_arguments(const Signature& sig, const char* owner, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames, PyObject** slots, Ref& extra) {
    if (kwnames == nullptr && static_cast<std::size_t>(nargs) >= sig.required &&
        static_cast<std::size_t>(nargs) <= sig.positional) {
        std::copy(args, args + nargs, slots);
        return true;
    }
    return match_fastcall(sig, owner, args, nargs, kwnames, slots, extra);
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
        if (!match_arguments(Sig, Owner, args, nargs, kwnames, slots, extra)) return nullptr;
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
