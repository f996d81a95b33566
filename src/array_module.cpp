// The module tessel_array: the eleven analytics of tessel over numbers and
// one-dimensional arrays, on the definition, matching, conversions and error
// handling that tessel itself uses. It needs numpy, imported when the module
// executes.
#include "analytics_table.hpp"
#include "array_dispatch.hpp"
#include "core/messages.hpp"
#include "module_def.hpp"

namespace tessel::py {
namespace {

template <Decl D, auto Op>
struct ArrayFunction {
    static constexpr PyMethodDef entry() { return over_arrays<D, Op>(); }
};

// ImportError "tessel_array needs numpy, ...: <why>", caused by numpy's own.
void raise_needs_numpy() {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(traceback);
    Py_XDECREF(type);
    Ref cause(value);
    Ref message(PyUnicode_FromFormat(messages::NEEDS_NUMPY, cause.get()));
    if (!message) return;
    Ref error(PyObject_CallFunctionObjArgs(PyExc_ImportError, message.get(), nullptr));
    if (!error) return;
    PyException_SetCause(error.get(), cause.release());  // steals
    PyErr_SetObject(PyExc_ImportError, error.get());
}

int load_numpy(ArrayApi& api) {
    Ref numpy(PyImport_ImportModule("numpy"));
    if (!numpy) {
        if (PyErr_ExceptionMatches(PyExc_ImportError)) raise_needs_numpy();
        return -1;
    }
    Ref float64(PyObject_GetAttrString(numpy.get(), "float64"));
    if (!float64) return -1;
    api.ndarray = PyObject_GetAttrString(numpy.get(), "ndarray");
    api.generic = PyObject_GetAttrString(numpy.get(), "generic");
    api.asarray = PyObject_GetAttrString(numpy.get(), "asarray");
    api.empty = PyObject_GetAttrString(numpy.get(), "empty");
    api.as_float64 = Py_BuildValue("{s:O}", "dtype", float64.get());
    api.interface_name = PyUnicode_InternFromString("__array_interface__");
    api.struct_name = PyUnicode_InternFromString("__array_struct__");
    api.array_name = PyUnicode_InternFromString("__array__");
    api.tolist_name = PyUnicode_InternFromString("tolist");
    const bool ok = api.ndarray && api.generic && api.asarray && api.empty && api.as_float64 && api.interface_name &&
                    api.struct_name && api.array_name && api.tolist_name;
    if (ok && !(PyType_Check(api.ndarray) && PyType_Check(api.generic))) {
        PyErr_SetString(PyExc_ImportError, "numpy.ndarray or numpy.generic is not a type");
        return -1;
    }
    return ok ? 0 : -1;
}

int fill(PyObject* module, ModuleState& state) {
    if (load_numpy(state.arrays) < 0) return -1;
    if (add_functions(module, analytics_table<ArrayFunction>) < 0) return -1;
    return PyModule_AddStringConstant(module, "__version__", TESSEL_VERSION);
}

constexpr ModuleSpec TESSEL_ARRAY{"tessel_array", &fill};

}  // namespace
}  // namespace tessel::py

PyMODINIT_FUNC PyInit_tessel_array(void) {
    return PyModuleDef_Init(tessel::py::module_definition<tessel::py::TESSEL_ARRAY>());
}
