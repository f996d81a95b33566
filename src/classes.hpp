#pragma once
// Type building: the record every instance of the module's classes has, the
// binding of a C++ value type to its class (Bound), making and freeing
// instances, and the type object assembled from a class's parts.
#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "access.hpp"
#include "core/messages.hpp"
#include "module_state.hpp"
#include "py.hpp"

namespace tessel::py {

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

}  // namespace tessel::py
