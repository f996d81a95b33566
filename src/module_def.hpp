#pragma once
// The definition every extension module of the package has: multi-phase
// initialisation whose execution slot builds the module state of the
// importing interpreter, the state's references shown to the garbage
// collector and dropped at teardown, and the slot that declares support for
// interpreters with their own locks, given only to interpreters that know it.
#include "module_state.hpp"
#include "py.hpp"

namespace tessel::py {

struct ModuleSpec {
    const char* name;
    // Fills the module's namespace and what the state holds beyond the
    // common objects; -1 with an exception set.
    int (*fill)(PyObject* module, ModuleState& state);
};

// The common part of every execution slot: checks the module, builds its
// state with the objects every call may need, then runs `fill`.
int exec_module(PyObject* module, int (*fill)(PyObject*, ModuleState&)) noexcept;
int traverse_module(PyObject* module, visitproc visit, void* arg) noexcept;
int clear_module(PyObject* module) noexcept;
void free_module(void* module) noexcept;

// Appends a name to the module's __all__, made empty when first needed.
int append_all(PyObject* module, PyObject* name);
// Adds each function of a table (ended by a null entry) to the module and its __all__.
int add_functions(PyObject* module, PyMethodDef* table);

// CPython 3.12 and later ask whether a module may live in several
// interpreters, each with its own lock; 3.10 and 3.11 refuse a slot they do
// not know. The constants are 3.12's, which the 3.10 limited API does not
// show: Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED.
inline constexpr int MOD_MULTIPLE_INTERPRETERS = 3;
inline void* const PER_INTERPRETER_GIL_SUPPORTED = reinterpret_cast<void*>(2);
bool knows_interpreter_slot() noexcept;

template <const ModuleSpec& S>
int exec_slot(PyObject* module) noexcept {
    return exec_module(module, S.fill);
}

// The module's definition, built once, before any interpreter sees it; the
// same for all of them.
template <const ModuleSpec& S>
PyModuleDef* module_definition() noexcept {
    // Where the interpreter does not know the slot, its entry is {0, nullptr}:
    // the end of the array, one entry early.
    static PyModuleDef_Slot slots[] = {
        {Py_mod_exec, reinterpret_cast<void*>(&exec_slot<S>)},
        {knows_interpreter_slot() ? MOD_MULTIPLE_INTERPRETERS : 0,
         knows_interpreter_slot() ? PER_INTERPRETER_GIL_SUPPORTED : nullptr},
        {0, nullptr},
    };
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, S.name, "", sizeof(ModuleState), nullptr, slots, &traverse_module, &clear_module,
        &free_module,
    };
    return &def;
}

}  // namespace tessel::py
