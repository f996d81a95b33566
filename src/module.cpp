// The module tessel: its classes and functions, registered in the order of
// __all__, on the definition every module of the package shares.
#include "bindings.hpp"
#include "module_def.hpp"

namespace tessel::py {
namespace {

int add_class(PyObject* module, ModuleState& state, const ClassEntry& entry) {
    PyTypeObject* type = entry.make(module);
    if (type == nullptr) return -1;
    state.types[entry.index] = type;
    Ref name(PyUnicode_FromString(entry.name));
    if (!name || append_all(module, name.get()) < 0) return -1;
    return PyObject_SetAttr(module, name.get(), reinterpret_cast<PyObject*>(type));
}

int fill(PyObject* module, ModuleState& state) {
    if (add_class(module, state, calendar_class) < 0) return -1;
    for (const ClassEntry& entry : model_classes)
        if (add_class(module, state, entry) < 0) return -1;
    if (add_functions(module, analytics_functions) < 0) return -1;
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (const PyMethodDef* def : {&model_restore_function, &calendar_restore_function}) {
        Ref function(PyCFunction_NewEx(const_cast<PyMethodDef*>(def), module, module_name.get()));
        if (!function || PyObject_SetAttrString(module, def->ml_name, function.get()) < 0) return -1;
    }
    // pyproject.toml's version, passed in by the build; not in __all__.
    if (PyModule_AddStringConstant(module, "__version__", TESSEL_VERSION) < 0) return -1;
    // Static methods find this state through the register.
    return remember_state(state) ? 0 : -1;
}

constexpr ModuleSpec TESSEL{"tessel", &fill};

}  // namespace
}  // namespace tessel::py

PyMODINIT_FUNC PyInit_tessel(void) { return PyModuleDef_Init(tessel::py::module_definition<tessel::py::TESSEL>()); }
