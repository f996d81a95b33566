#include "call.hpp"

#include <string>

namespace tessel::py {
namespace {

std::string full_name(const SignatureView& sig) {
    std::string name;
    if (sig.owner != nullptr) name.append(sig.owner).append(".");
    return name.append(sig.name).append("()");
}

void raise_too_many(const SignatureView& sig, Py_ssize_t given) {
    const char* verb = given == 1 ? "was" : "were";
    const std::string name = full_name(sig);
    if (sig.required == sig.count)
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional arguments but %zd %s given", name.c_str(), sig.count,
                     given, verb);
    else
        PyErr_Format(PyExc_TypeError, "%s takes from %zu to %zu positional arguments but %zd %s given", name.c_str(),
                     sig.required, sig.count, given, verb);
}

// Places one keyword argument; false with TypeError set.
bool place_keyword(const SignatureView& sig, PyObject* key, PyObject* value, PyObject** slots, Ref& extra) {
    for (std::size_t i = 0; i < sig.count; ++i) {
        if (PyUnicode_CompareWithASCIIString(key, sig.params[i]) != 0) continue;
        if (slots[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", full_name(sig).c_str(),
                         sig.params[i]);
            return false;
        }
        slots[i] = value;
        return true;
    }
    if (!sig.collect_extra) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", full_name(sig).c_str(), key);
        return false;
    }
    if (!extra) {
        extra = Ref(PyDict_New());
        if (!extra) return false;
    }
    return PyDict_SetItem(extra.get(), key, value) == 0;
}

bool check_required(const SignatureView& sig, PyObject* const* slots) {
    std::size_t missing = 0;
    for (std::size_t i = 0; i < sig.required; ++i) missing += slots[i] == nullptr;
    if (missing == 0) return true;
    // 'a' / 'a' and 'b' / 'a', 'b', and 'c'
    std::string list;
    std::size_t listed = 0;
    for (std::size_t i = 0; i < sig.required; ++i) {
        if (slots[i] != nullptr) continue;
        if (listed > 0) list += missing == 2 ? " and " : (listed + 1 == missing ? ", and " : ", ");
        list.append("'").append(sig.params[i]).append("'");
        ++listed;
    }
    PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s", full_name(sig).c_str(),
                 missing, missing > 1 ? "s" : "", list.c_str());
    return false;
}

}  // namespace

bool match_fastcall(const SignatureView& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                    PyObject** slots, Ref& extra) {
    if (static_cast<std::size_t>(nargs) > sig.count) {
        raise_too_many(sig, nargs);
        return false;
    }
    std::copy(args, args + nargs, slots);
    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    for (Py_ssize_t j = 0; j < nkw; ++j) {
        if (!place_keyword(sig, PyTuple_GetItem(kwnames, j), args[nargs + j], slots, extra)) return false;
    }
    return check_required(sig, slots);
}

bool match_tuple(const SignatureView& sig, PyObject* args, PyObject* kwargs, PyObject** slots, Ref& extra) {
    const Py_ssize_t nargs = PyTuple_Size(args);
    if (static_cast<std::size_t>(nargs) > sig.count) {
        raise_too_many(sig, nargs);
        return false;
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[i] = PyTuple_GetItem(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) {
            if (!place_keyword(sig, key, value, slots, extra)) return false;
        }
    }
    return check_required(sig, slots);
}

bool check_self(PyObject* self, PyTypeObject* type, const char* class_name) noexcept {
    if (type == nullptr) return false;
    if (self != nullptr && PyObject_TypeCheck(self, type)) return true;
    Ref name(self == nullptr ? PyUnicode_FromString("NULL") : type_qualname(self));
    if (name) PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), class_name);
    return false;
}

PyTypeObject* make_type(const TypeParts& parts) noexcept {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(parts.doc)},
        {Py_tp_new, reinterpret_cast<void*>(parts.tp_new)},
        {Py_tp_dealloc, reinterpret_cast<void*>(parts.tp_dealloc)},
        {Py_tp_repr, reinterpret_cast<void*>(parts.tp_repr)},
        {Py_tp_methods, parts.methods},
        {parts.getset != nullptr ? Py_tp_getset : 0, parts.getset},
        {0, nullptr},
    };
    // Not a base type: no Py_TPFLAGS_BASETYPE; no __dict__ or weakref slot.
    // Immutable, so no one can replace __new__ (or assign __class__) and make
    // an instance whose value no constructor built.
    PyType_Spec spec{parts.qualified_name, parts.basicsize, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

}  // namespace tessel::py
