#include "errors.hpp"

#include <cstdio>
#include <cstdlib>
#include <exception>

#include "core/messages.hpp"
#include "module_state.hpp"

namespace tessel::py {
namespace {

[[noreturn]] void abort_uncaught() noexcept {
    std::fputs(messages::UNCAUGHT_PANIC, stderr);
    std::abort();
}

}  // namespace

PyObject* new_panic_type() noexcept {
    return PyErr_NewExceptionWithDoc("tessel_runtime.PanicException", messages::PANIC_DOC, PyExc_BaseException,
                                     nullptr);
}

void raise_panic_from_current(const ModuleState* state) noexcept {
    try {
        const char* message = messages::GENERIC_FAULT;
        std::string text;
        try {
            throw;
        } catch (const std::exception& e) {
            text = e.what();
            if (!text.empty()) message = text.c_str();
        } catch (...) {
        }
        PyObject* type = state != nullptr && state->panic != nullptr ? state->panic : PyExc_SystemError;
        Ref arg(PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::char_traits<char>::length(message)),
                                     "replace"));
        if (!arg) return;
        PyErr_SetObject(type, arg.get());
    } catch (...) {
        abort_uncaught();
    }
}

void raise_value_error(const std::string& message) noexcept {
    Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
}

bool clear_ordinary_error() noexcept {
    PyObject* pending = PyErr_Occurred();
    if (pending != nullptr && !PyErr_GivenExceptionMatches(pending, PyExc_Exception)) return false;
    PyErr_Clear();
    return true;
}

PyObject* type_qualname(PyObject* obj) noexcept {
    return PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__");
}

void decorate_argument_error(const char* name) noexcept {
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (type != PyExc_TypeError) {
        PyErr_Restore(type, value, traceback);
        return;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(traceback);
    Ref cause(value);
    Py_DECREF(type);
    Ref decorated(PyObject_CallFunction(PyExc_TypeError, "N",
                                        PyUnicode_FromFormat(messages::ARGUMENT_ERROR, name, cause.get())));
    if (!decorated) return;
    PyException_SetCause(decorated.get(), cause.release());  // steals
    PyErr_SetObject(PyExc_TypeError, decorated.get());
}

}  // namespace tessel::py
