#include "module_def.hpp"

#include <cstdlib>
#include <new>

#include "core/messages.hpp"
#include "errors.hpp"

namespace tessel::py {
namespace {

// The objects every call of either module may need, made once per interpreter.
int fill_common(ModuleState& state) {
    state.interpreter = PyInterpreterState_Get();
    state.interpreter_id = PyInterpreterState_GetID(state.interpreter);
    state.panic = new_panic_type();
    state.str_lower = PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyUnicode_Type), "lower");
    state.timestamp_name = PyUnicode_InternFromString("timestamp");
    state.datetime_name = PyUnicode_InternFromString("datetime");
    bool ok = state.panic && state.str_lower && state.timestamp_name && state.datetime_name;
    const char* words[] = {"call", "c", "put", "p"};
    for (std::size_t i = 0; i < state.option_words.size(); ++i)
        ok = ok && (state.option_words[i] = PyUnicode_InternFromString(words[i])) != nullptr;
    return ok ? 0 : -1;
}

ModuleState* state_memory(PyObject* module) noexcept { return static_cast<ModuleState*>(PyModule_GetState(module)); }

}  // namespace

int append_all(PyObject* module, PyObject* name) {
    Ref all(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        all = Ref(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
    }
    return PyList_Append(all.get(), name);
}

int add_functions(PyObject* module, PyMethodDef* table) {
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef* def = table; def->ml_name != nullptr; ++def) {
        Ref function(PyCFunction_NewEx(def, module, module_name.get()));
        if (!function) return -1;
        Ref name(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name || append_all(module, name.get()) < 0) return -1;
        if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return -1;
    }
    return 0;
}

int exec_module(PyObject* module, int (*fill)(PyObject*, ModuleState&)) noexcept {
    ModuleState* state = nullptr;
    try {
        if (!PyModule_Check(module)) {
            Ref name(type_qualname(module));
            if (name) PyErr_Format(PyExc_TypeError, messages::NOT_AN_INSTANCE, name.get(), "module");
            return -1;
        }
        state = new (state_memory(module)) ModuleState{};
        if (fill_common(*state) < 0) return -1;
        return fill(module, *state);
    } catch (...) {
        raise_panic_from_current(state);
        return -1;
    }
}

// The state's references, for the garbage collector: the types refer back to
// the module, so module and types form a cycle that only it can free.
int traverse_module(PyObject* module, visitproc visit, void* arg) noexcept {
    ModuleState* state = state_memory(module);
    if (state == nullptr) return 0;
    int result = 0;
    state->each_object([&](PyObject* object) {
        if (result == 0 && object != nullptr) result = visit(object, arg);
    });
    return result;
}

int clear_module(PyObject* module) noexcept {
    ModuleState* state = state_memory(module);
    if (state == nullptr) return 0;
    state->datetime_ready = false;
    state->each_object([](PyObject*& object) { Py_CLEAR(object); });
    return 0;
}

void free_module(void* module) noexcept {
    clear_module(static_cast<PyObject*>(module));
    if (const ModuleState* state = state_memory(static_cast<PyObject*>(module))) forget_state(*state);
}

// "3.12.1 (main, ...)": true from 3.12 on.
bool knows_interpreter_slot() noexcept {
    char* rest = nullptr;
    const char* version = Py_GetVersion();
    const long major = std::strtol(version, &rest, 10);
    const long minor = *rest == '.' ? std::strtol(rest + 1, nullptr, 10) : 0;
    return major > 3 || (major == 3 && minor >= 12);
}

}  // namespace tessel::py
