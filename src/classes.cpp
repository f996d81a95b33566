#include "classes.hpp"

namespace tessel::py {

PyTypeObject* make_type(PyObject* module, const TypeParts& parts) noexcept {
    std::array<PyType_Slot, 7> slots{};
    std::size_t n = 0;
    slots[n++] = {Py_tp_doc, const_cast<char*>(parts.doc)};
    slots[n++] = {Py_tp_new, reinterpret_cast<void*>(parts.tp_new)};
    slots[n++] = {Py_tp_dealloc, reinterpret_cast<void*>(parts.tp_dealloc)};
    slots[n++] = {Py_tp_repr, reinterpret_cast<void*>(parts.tp_repr)};
    slots[n++] = {Py_tp_methods, parts.methods};
    if (parts.getset != nullptr) slots[n++] = {Py_tp_getset, parts.getset};
    slots[n] = {0, nullptr};  // the end; the array always has room for it
    // Not a base type: no Py_TPFLAGS_BASETYPE; no __dict__ or weakref slot.
    // Immutable, so no one can replace __new__ (or assign __class__) and make
    // an instance whose value no constructor built.
    PyType_Spec spec{parts.qualified_name, parts.basicsize, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
                     slots.data()};
    return reinterpret_cast<PyTypeObject*>(PyType_FromModuleAndSpec(module, &spec, nullptr));
}

}  // namespace tessel::py
