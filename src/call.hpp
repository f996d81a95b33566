#pragma once
// The generic calling convention. A binding declares, per callable, one
// Signature and the operation (a plain C++ function); the templates below
// derive the entry wrapper from the operation's parameter and result types:
// match the arguments, check self and take its access flag (shared when the
// operation takes the value by const reference, exclusive by reference),
// convert the arguments, run the operation, release the flag, convert the
// result, and turn any C++ exception into PanicException.
#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "access.hpp"
#include "convert.hpp"
#include "core/result.hpp"
#include "errors.hpp"

namespace tessel::py {

inline constexpr std::size_t kMaxParams = 8;

struct SignatureView {
    const char* owner;  // class name, nullptr for module functions
    const char* name;   // "__new__" for constructors
    const char* const* params;
    std::size_t count;
    std::size_t required;  // the leading parameters; the rest take `default_value`
    bool collect_extra;    // unmatched keywords go to a dict (model constructors)
};

template <std::size_t N>
struct Signature {
    const char* owner;
    const char* name;
    std::array<const char*, N> params;
    std::size_t required = N;
    bool collect_extra = false;
    double default_value = 1.0;  // of the optional parameters (only df has one)
    // Operation argument i reads slot arg_slots[i]; slot N is the dict of extra
    // keywords. Lets a dict convert before the expiry that precedes it.
    std::array<std::size_t, kMaxParams> arg_slots = {0, 1, 2, 3, 4, 5, 6, 7};

    constexpr SignatureView view() const noexcept {
        return {owner, name, params.data(), N, required, collect_extra};
    }
};

template <std::size_t N>
consteval Signature<N> function_sig(const char* name, const char* const (&params)[N], std::size_t required = N) {
    Signature<N> s{nullptr, name, {}, required};
    std::copy(params, params + N, s.params.begin());
    return s;
}

template <std::size_t N>
consteval Signature<N> method_sig(const char* owner, const char* name, const char* const (&params)[N]) {
    Signature<N> s{owner, name, {}, N};
    std::copy(params, params + N, s.params.begin());
    return s;
}

// Matching: fills slots[0..count) with borrowed references (nullptr where not
// given) and, for collecting callables, `extra` with a new dict of unmatched
// keywords (or leaves it empty). False with TypeError set on a mismatch.
bool match_fastcall(const SignatureView& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** slots, Ref& extra);
bool match_tuple(const SignatureView& sig, PyObject* args, PyObject* kwargs, PyObject** slots, Ref& extra);

// Instance record of every class: header, access flag, value.
template <class V>
struct Instance {
    PyObject_HEAD
    AccessFlag flag;
    V value;
};

// Specialised per bound class: `static PyTypeObject* type()`, built on first need.
template <class V>
struct Bound;

template <class V, class = void>
struct is_bound : std::false_type {};
template <class V>
struct is_bound<V, std::void_t<decltype(Bound<V>::type())>> : std::true_type {};

template <class V>
PyObject* new_instance(V&& value) {
    static_assert(std::is_nothrow_move_constructible_v<V>);
    PyTypeObject* type = Bound<V>::type();
    if (type == nullptr) return nullptr;
    PyObject* obj = PyType_GenericAlloc(type, 0);
    if (obj == nullptr) return nullptr;
    auto* inst = reinterpret_cast<Instance<V>*>(obj);
    new (&inst->flag) AccessFlag(0);
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

template <class T>
struct ArgConv;

template <>
struct ArgConv<double> {
    static constexpr bool decorate = true;
    static bool convert(PyObject* o, double& v) { return to_double(o, v); }
};
template <>
struct ArgConv<std::int64_t> {
    static constexpr bool decorate = true;
    static bool convert(PyObject* o, std::int64_t& v) { return to_int64(o, v); }
};
template <>
struct ArgConv<std::string_view> {
    static constexpr bool decorate = true;
    static bool convert(PyObject* o, std::string_view& v) { return to_text(o, v); }
};
template <>
struct ArgConv<std::vector<double>> {
    static constexpr bool decorate = true;
    static bool convert(PyObject* o, std::vector<double>& v) { return to_doubles(o, v); }
};
template <>
struct ArgConv<std::vector<std::string>> {
    static constexpr bool decorate = true;
    static bool convert(PyObject* o, std::vector<std::string>& v) { return to_texts(o, v); }
};
template <>
struct ArgConv<NamedDoubles> {
    static constexpr bool decorate = true;
    static bool convert(PyObject* o, NamedDoubles& v) { return to_named_doubles(o, v); }
};
template <>
struct ArgConv<Instant> {
    static constexpr bool decorate = false;  // instants keep their own errors
    static bool convert(PyObject* o, Instant& v) { return to_instant(o, v); }
};

// ---- result conversions by result type ----

// A new reference to None. Not Py_RETURN_NONE: the headers of 3.12 and later
// define it without the increment whatever the limited-API version, and a
// module built with them would then drain None's count on 3.10 and 3.11.
inline PyObject* new_none() noexcept {
    Py_INCREF(Py_None);
    return Py_None;
}

template <class T, class = void>
struct ResultConv;

template <>
struct ResultConv<double> {
    static PyObject* convert(double v) { return from_double(v); }
};
template <>
struct ResultConv<bool> {
    static PyObject* convert(bool v) { return from_bool(v); }
};
template <>
struct ResultConv<std::vector<double>> {
    static PyObject* convert(const std::vector<double>& v) { return from_doubles(v); }
};
template <>
struct ResultConv<std::vector<std::string>> {
    static PyObject* convert(const std::vector<std::string>& v) { return from_texts(v); }
};
template <>
struct ResultConv<NamedDoubles> {
    static PyObject* convert(const NamedDoubles& v) { return from_named_doubles(v); }
};
template <>
struct ResultConv<Instant> {
    static PyObject* convert(const Instant& v) { return from_instant(v); }
};
template <class T>
struct ResultConv<std::optional<T>> {
    static PyObject* convert(std::optional<T>&& v) {
        if (!v) return new_none();
        return ResultConv<T>::convert(std::move(*v));
    }
};
template <class T>
struct ResultConv<Result<T>> {
    static PyObject* convert(Result<T>&& r) {
        if (!r.ok()) {
            raise_value_error(r.error().message);
            return nullptr;
        }
        return ResultConv<T>::convert(std::move(r).value());
    }
};
// A value of a bound class becomes a new instance of that class.
template <class V>
struct ResultConv<V, std::enable_if_t<is_bound<V>::value>> {
    static PyObject* convert(V&& v) { return new_instance(std::move(v)); }
};

// ---- the operation's shape ----

template <class F>
struct OpTraits;
template <class R, class... A>
struct OpTraits<R (*)(A...)> {
    using Ret = R;
    using Params = std::tuple<A...>;
};

template <class P>
struct SelfOf {
    static constexpr bool is_self = false;
};
template <class V>
struct SelfOf<const V&> {
    static constexpr bool is_self = is_bound<V>::value;
    static constexpr Access access = Access::Shared;
    using Value = V;
};
template <class V>
struct SelfOf<V&> {
    static constexpr bool is_self = is_bound<V>::value;
    static constexpr Access access = Access::Exclusive;
    using Value = V;
};

template <class Tuple>
struct Tail;
template <class H, class... T>
struct Tail<std::tuple<H, T...>> {
    using type = std::tuple<T...>;
};

template <class Op>
struct Shape {
    using Params = typename OpTraits<Op>::Params;
    static constexpr bool has_self = [] {
        if constexpr (std::tuple_size_v<Params> == 0)
            return false;
        else
            return SelfOf<std::tuple_element_t<0, Params>>::is_self;
    }();
    using Args = typename std::conditional_t<has_self, Tail<Params>, std::type_identity<Params>>::type;
    using Values = decltype(std::apply([](auto&&... a) { return std::tuple<std::decay_t<decltype(a)>...>{}; },
                                       std::declval<Args>()));
};

bool check_self(PyObject* self, PyTypeObject* type, const char* class_name) noexcept;

template <const auto& Sig, std::size_t I, class Values>
bool convert_arg(PyObject* const* slots, Values& values) {
    using T = std::tuple_element_t<I, Values>;
    PyObject* obj = slots[Sig.arg_slots[I]];
    T& out = std::get<I>(values);
    if (obj == nullptr) {
        // Missing: an optional parameter takes its default, an absent extra-keyword dict is empty.
        if constexpr (std::is_same_v<T, double>)
            out = Sig.default_value;
        return true;
    }
    if (ArgConv<T>::convert(obj, out)) return true;
    if constexpr (ArgConv<T>::decorate) {
        const std::size_t slot = Sig.arg_slots[I];
        decorate_argument_error(slot < Sig.params.size() ? Sig.params[slot] : "params");
    }
    return false;
}

template <const auto& Sig, class Values, std::size_t... I>
bool convert_args([[maybe_unused]] PyObject* const* slots, [[maybe_unused]] Values& values,
                  std::index_sequence<I...>) {
    return (convert_arg<Sig, I>(slots, values) && ...);
}

template <class R>
PyObject* to_python(R&& r) {
    return ResultConv<std::decay_t<R>>::convert(std::forward<R>(r));
}

// Steps 3 to 7 of every call, after matching.
template <const auto& Sig, auto Op>
PyObject* run(PyObject* self, PyObject* const* slots) {
    using S = Shape<decltype(Op)>;
    using Ret = typename OpTraits<decltype(Op)>::Ret;
    typename S::Values values;
    AccessGuard guard;
    auto call = [&](auto&&... self_value) -> decltype(auto) {
        return std::apply([&](auto&... a) -> Ret { return Op(self_value..., std::move(a)...); }, values);
    };
    auto finish = [&](auto&&... self_value) -> PyObject* {
        if (!convert_args<Sig>(slots, values, std::make_index_sequence<std::tuple_size_v<typename S::Values>>{}))
            return nullptr;
        if constexpr (std::is_void_v<Ret>) {
            call(self_value...);
            guard.release();
            return new_none();
        } else {
            Ret r = call(self_value...);
            guard.release();
            return to_python(std::move(r));
        }
    };
    if constexpr (S::has_self) {
        using SelfT = SelfOf<std::tuple_element_t<0, typename S::Params>>;
        using V = typename SelfT::Value;
        if (!check_self(self, Bound<V>::type(), Bound<V>::name)) return nullptr;
        auto* inst = reinterpret_cast<Instance<V>*>(self);
        if (!guard.acquire(inst->flag, SelfT::access)) return nullptr;
        return finish(inst->value);
    } else {
        return finish();
    }
}

// ---- entry wrappers, one per calling convention ----

template <const auto& Sig, auto Op>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    try {
        constexpr std::size_t N = Sig.params.size();
        PyObject* slots[N + 1] = {};
        Ref extra;
        if (kwnames == nullptr && static_cast<std::size_t>(nargs) >= Sig.required &&
            static_cast<std::size_t>(nargs) <= N) {
            std::copy(args, args + nargs, slots);
        } else if (!match_fastcall(Sig.view(), args, nargs, kwnames, slots, extra)) {
            return nullptr;
        }
        slots[N] = extra.get();
        return run<Sig, Op>(self, slots);
    } catch (...) {
        raise_panic_from_current();
        return nullptr;
    }
}

template <const auto& Sig, auto Op>
PyObject* construct(PyTypeObject*, PyObject* args, PyObject* kwargs) noexcept {
    try {
        constexpr std::size_t N = Sig.params.size();
        PyObject* slots[N + 1] = {};
        Ref extra;
        if (!match_tuple(Sig.view(), args, kwargs, slots, extra)) return nullptr;
        slots[N] = extra.get();
        return run<Sig, Op>(nullptr, slots);
    } catch (...) {
        raise_panic_from_current();
        return nullptr;
    }
}

inline constexpr Signature<0> kNoParams{nullptr, nullptr, {}, 0};

template <auto Op>
PyObject* noargs(PyObject* self, PyObject*) noexcept {
    try {
        return run<kNoParams, Op>(self, nullptr);
    } catch (...) {
        raise_panic_from_current();
        return nullptr;
    }
}

template <auto Op>
PyObject* getter(PyObject* self, void*) noexcept {
    return noargs<Op>(self, nullptr);
}

// Method-table entries.
template <const auto& Sig, auto Op>
constexpr PyMethodDef method(const char* doc, int extra_flags = 0) {
    return {Sig.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&fastcall<Sig, Op>)),
            METH_FASTCALL | METH_KEYWORDS | extra_flags, doc};
}

template <auto Op>
constexpr PyMethodDef method_noargs(const char* name, const char* doc) {
    return {name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&noargs<Op>)), METH_NOARGS, doc};
}

template <auto Op>
PyObject* repr_slot(PyObject* self) noexcept {
    return noargs<Op>(self, nullptr);
}

struct TypeParts {
    const char* qualified_name;  // "builtins.<Class>"
    int basicsize;
    const char* doc;
    newfunc tp_new;
    destructor tp_dealloc;
    reprfunc tp_repr;
    PyMethodDef* methods;
    PyGetSetDef* getset;  // may be null
};

// A class's type object from its parts; nullptr with an exception set.
PyTypeObject* make_type(const TypeParts& parts) noexcept;

}  // namespace tessel::py
