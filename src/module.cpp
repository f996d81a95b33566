// Module definition: multi-phase initialisation whose execution slot fills
// the module state of the importing interpreter and registers the classes
// and functions in the order of __all__.
#include <cstdlib>
#include <new>

#include "bindings.hpp"
#include "core/messages.hpp"
#include "errors.hpp"
#include "module_state.hpp"

namespace tessel::py {
namespace {

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

int add_class(PyObject* module, ModuleState& state, const ClassEntry& entry) {
    PyTypeObject* type = entry.make(module);
    if (type == nullptr) return -1;
    state.types[entry.index] = type;
    Ref name(PyUnicode_FromString(entry.name));
    if (!name || append_all(module, name.get()) < 0) return -1;
    return PyObject_SetAttr(module, name.get(), reinterpret_cast<PyObject*>(type));
}

// The objects every call may need, made once per interpreter.
int fill_state(ModuleState& state) {
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

int exec_module(PyObject* module) noexcept {
    ModuleState* state = nullptr;
    try {
        if (!PyModule_Check(module)) {
            Ref name(type_qualname(module));
            if (name) PyErr_Format(PyExc_TypeError, messages::NOT_AN_INSTANCE, name.get(), "module");
            return -1;
        }
        state = new (state_memory(module)) ModuleState{};
        if (fill_state(*state) < 0) return -1;
        if (add_class(module, *state, calendar_class) < 0) return -1;
        for (const ClassEntry& entry : model_classes)
            if (add_class(module, *state, entry) < 0) return -1;
        Ref module_name(PyModule_GetNameObject(module));
        if (!module_name) return -1;
        for (PyMethodDef* def = analytics_functions; def->ml_name != nullptr; ++def) {
            Ref function(PyCFunction_NewEx(def, module, module_name.get()));
            if (!function) return -1;
            Ref name(PyObject_GetAttrString(function.get(), "__name__"));
            if (!name || append_all(module, name.get()) < 0) return -1;
            if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return -1;
        }
        for (const PyMethodDef* def : {&model_restore_function, &calendar_restore_function}) {
            Ref function(PyCFunction_NewEx(const_cast<PyMethodDef*>(def), module, module_name.get()));
            if (!function || PyObject_SetAttrString(module, def->ml_name, function.get()) < 0) return -1;
        }
        // pyproject.toml's version, passed in by the build; not in __all__.
        if (PyModule_AddStringConstant(module, "__version__", TESSEL_VERSION) < 0) return -1;
        return remember_state(*state) ? 0 : -1;
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

// CPython 3.12 and later ask whether a module may live in several
// interpreters, each with its own lock; 3.10 and 3.11 refuse a slot they do
// not know. The constants are 3.12's, which the 3.10 limited API does not
// show: Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED.
constexpr int MOD_MULTIPLE_INTERPRETERS = 3;
void* const PER_INTERPRETER_GIL_SUPPORTED = reinterpret_cast<void*>(2);

PyModuleDef_Slot slots_with_interpreters[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {MOD_MULTIPLE_INTERPRETERS, PER_INTERPRETER_GIL_SUPPORTED},
    {0, nullptr},
};
PyModuleDef_Slot slots_before_3_12[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

// "3.12.1 (main, ...)": true from 3.12 on.
bool knows_interpreter_slot() noexcept {
    char* rest = nullptr;
    const char* version = Py_GetVersion();
    const long major = std::strtol(version, &rest, 10);
    const long minor = *rest == '.' ? std::strtol(rest + 1, nullptr, 10) : 0;
    return major > 3 || (major == 3 && minor >= 12);
}

PyModuleDef* definition() noexcept {
    // Built once, before any interpreter sees it; the same for all of them.
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT,
        "tessel",
        "",
        sizeof(ModuleState),
        nullptr,
        knows_interpreter_slot() ? slots_with_interpreters : slots_before_3_12,
        &traverse_module,
        &clear_module,
        &free_module,
    };
    return &def;
}

}  // namespace
}  // namespace tessel::py

PyMODINIT_FUNC PyInit_tessel(void) { return PyModuleDef_Init(tessel::py::definition()); }
