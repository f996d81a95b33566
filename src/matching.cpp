// Argument matching and the check of self: the first messages a call can give.
#include "dispatch.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "core/messages.hpp"

namespace tessel::py {
namespace {

std::string full_name(const Signature& sig, const char* owner) {
    std::string name;
    if (owner != nullptr) name.append(owner).append(".");
    return name.append(sig.name()).append("()");
}

// Places one keyword argument; false with TypeError set.
bool place_keyword(const Signature& sig, const char* owner, PyObject* key, PyObject* value, PyObject** slots,
                   Ref& extra) {
    for (std::size_t i = 0; i < sig.positional; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, sig.param_name(i)) != 0) continue;
        if (slots[i] != nullptr) {
            PyErr_SetString(PyExc_TypeError, messages::multiple_values(full_name(sig, owner), sig.param_name(i)).c_str());
            return false;
        }
        slots[i] = value;
        return true;
    }
    if (!sig.collects) {
        PyErr_Format(PyExc_TypeError, messages::UNEXPECTED_KEYWORD, full_name(sig, owner).c_str(), key);
        return false;
    }
    if (!extra) {
        extra = Ref(PyDict_New());
        if (!extra) return false;
        slots[sig.positional] = extra.get();
    }
    return PyDict_SetItem(extra.get(), key, value) == 0;
}

bool too_many(const Signature& sig, const char* owner, Py_ssize_t given) {
    if (static_cast<std::size_t>(given) <= sig.positional) return false;
    PyErr_SetString(PyExc_TypeError, messages::too_many_positional(full_name(sig, owner), sig.required,
                                                                   sig.positional, static_cast<std::size_t>(given))
                                         .c_str());
    return true;
}

bool check_required(const Signature& sig, const char* owner, PyObject* const* slots) {
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < sig.required; ++i)
        if (slots[i] == nullptr) missing.emplace_back(sig.param_name(i));
    if (missing.empty()) return true;
    PyErr_SetString(PyExc_TypeError, messages::missing_required(full_name(sig, owner), missing).c_str());
    return false;
}

}  // namespace

bool match_fastcall(const Signature& sig, const char* owner, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots, Ref& extra) {
    if (too_many(sig, owner, nargs)) return false;
    std::copy(args, args + nargs, slots);
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    for (Py_ssize_t j = 0; j < nkw; ++j) {
        if (!place_keyword(sig, owner, PyTuple_GetItem(kwnames, j), args[nargs + j], slots, extra)) return false;
    }
    return check_required(sig, owner, slots);
}

bool match_tuple(const Signature& sig, const char* owner, PyObject* args, PyObject* kwargs, PyObject** slots,
                 Ref& extra) {
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (too_many(sig, owner, nargs)) return false;
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GetItem(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!place_keyword(sig, owner, key, value, slots, extra)) return false;
        }
    }
    return check_required(sig, owner, slots);
}

bool check_self(PyObject* self, PyTypeObject* type, const char* class_name) noexcept {
    if (type == nullptr) return false;
    if (self != nullptr && PyObject_TypeCheck(self, type)) return true;
    Ref name(self == nullptr ? PyUnicode_FromString("NULL") : type_qualname(self));
    if (name) PyErr_Format(PyExc_TypeError, messages::NOT_AN_INSTANCE, name.get(), class_name);
    return false;
}

}  // namespace tessel::py
