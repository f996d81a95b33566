// Module definition: multi-phase initialisation with a single execution slot
// that registers the classes and functions in the order of __all__.
#include "bindings.hpp"
#include "core/messages.hpp"
#include "errors.hpp"

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

int add_class(PyObject* module, const ClassEntry& entry) {
    PyObject* type = reinterpret_cast<PyObject*>(entry.type());
    if (type == nullptr) return -1;
    Ref name(PyUnicode_FromString(entry.name));
    if (!name || append_all(module, name.get()) < 0) return -1;
    return PyObject_SetAttr(module, name.get(), type);
}

int exec_module(PyObject* module) noexcept {
    try {
        if (!PyModule_Check(module)) {
            Ref name(type_qualname(module));
            if (name) PyErr_Format(PyExc_TypeError, messages::NOT_AN_INSTANCE, name.get(), "module");
            return -1;
        }
        if (add_class(module, calendar_class) < 0) return -1;
        for (const ClassEntry& entry : model_classes)
            if (add_class(module, entry) < 0) return -1;
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
        return PyModule_AddStringConstant(module, "__version__", TESSEL_VERSION);
    } catch (...) {
        raise_panic_from_current();
        return -1;
    }
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "tessel", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace tessel::py

PyMODINIT_FUNC PyInit_tessel(void) { return PyModuleDef_Init(&tessel::py::module_def); }
