#pragma once
// Everything the module keeps of the interpreter lives in the state of the
// module object, one per interpreter that imports it, so that no object of
// one interpreter ever reaches another. The state also records its
// interpreter: a module or object smuggled into another interpreter is
// refused instead of touching objects that another thread may be using.
#include <array>
#include <cstddef>
#include <cstdint>

#include "py.hpp"
#include "volmodel/vol_model.hpp"

namespace tessel::py {

// The calendar, then every model, in registration order.
inline constexpr std::size_t CLASS_COUNT = 1 + volmodel::Models::size;

// datetime.datetime, timezone.utc and what building and reading datetimes
// needs; loaded on first need, since reading an argument never imports
// datetime.
struct DatetimeApi {
    PyObject* datetime_type = nullptr;
    PyObject* utc = nullptr;
    PyObject* fold_kwargs = nullptr;  // {"fold": 0}
    PyObject* reduce = nullptr;       // datetime.__reduce__, the unbound method
};

// numpy's objects and the names of its array protocols, for tessel_array:
// loaded when that module executes (tessel never imports numpy).
struct ArrayApi {
    PyObject* ndarray = nullptr;         // numpy.ndarray
    PyObject* generic = nullptr;         // numpy.generic, the numpy scalars
    PyObject* asarray = nullptr;         // numpy.asarray
    PyObject* empty = nullptr;           // numpy.empty
    PyObject* as_float64 = nullptr;      // {"dtype": numpy.float64}
    PyObject* interface_name = nullptr;  // "__array_interface__"
    PyObject* struct_name = nullptr;     // "__array_struct__"
    PyObject* array_name = nullptr;      // "__array__"
    PyObject* tolist_name = nullptr;     // "tolist"
};

struct ModuleState {
    PyInterpreterState* interpreter = nullptr;
    std::int64_t interpreter_id = -1;  // unlike the address, never reused
    std::array<PyTypeObject*, CLASS_COUNT> types{};
    PyObject* panic = nullptr;            // PanicException
    PyObject* str_lower = nullptr;        // str.lower, for the option-type message
    PyObject* timestamp_name = nullptr;   // interned "timestamp"
    PyObject* datetime_name = nullptr;    // interned "datetime"
    // Interned "call", "c", "put", "p": a literal in the caller's code is
    // the very same object, which reads without decoding.
    std::array<PyObject*, 4> option_words{};
    DatetimeApi datetime;
    bool datetime_ready = false;
    ArrayApi arrays;  // tessel_array's only

    // Every owned reference, for the garbage collector and teardown.
    template <class F>
    void each_object(F&& f) {
        for (PyTypeObject*& type : types) f(reinterpret_cast<PyObject*&>(type));
        for (PyObject*& word : option_words) f(word);
        for (PyObject** p : {&panic, &str_lower, &timestamp_name, &datetime_name, &datetime.datetime_type,
                             &datetime.utc, &datetime.fold_kwargs, &datetime.reduce, &arrays.ndarray,
                             &arrays.generic, &arrays.asarray, &arrays.empty, &arrays.as_float64, &arrays.interface_name,
                             &arrays.struct_name, &arrays.array_name, &arrays.tolist_name})
            f(*p);
    }
};

// nullptr with RuntimeError set: the module of a call is another
// interpreter's, or there is none.
ModuleState* refuse_other_interpreter() noexcept;

// The state, if it belongs to the running interpreter.
inline ModuleState* checked(ModuleState* state) noexcept {
    if (state == nullptr || state->interpreter != PyInterpreterState_Get()) [[unlikely]]
        return refuse_other_interpreter();
    return state;
}

// The state of the module a call came through: a module function's self,
// a class; nullptr with RuntimeError set when that module belongs to
// another interpreter than the running one.
inline ModuleState* state_of_module(PyObject* module) noexcept {
    return checked(static_cast<ModuleState*>(PyModule_GetState(module)));
}
inline ModuleState* state_of_type(PyTypeObject* type) noexcept {
    return checked(static_cast<ModuleState*>(PyType_GetModuleState(type)));
}

// Static methods are handed neither their class nor their module, so they
// find the state of the running interpreter's module (the latest executed,
// should it have been imported twice) in a process-wide register.
ModuleState* state_of_interpreter() noexcept;
bool remember_state(ModuleState& state) noexcept;  // false with an exception set
void forget_state(const ModuleState& state) noexcept;

// datetime's objects of this interpreter, importing datetime on first need;
// nullptr with an exception set on failure.
const DatetimeApi* datetime_api(ModuleState& state) noexcept;
// The same, but only once the interpreter has loaded datetime: reading an
// argument never imports it. nullptr before that, with no exception set
// unless one that is no Exception came up (an interrupt), left for the caller.
const DatetimeApi* loaded_datetime_api(ModuleState& state) noexcept;

}  // namespace tessel::py
