#pragma once
// What each binding file contributes to the module.
#include <cstddef>
#include <span>

#include "py.hpp"

namespace tessel::py {

struct ClassEntry {
    const char* name;
    std::size_t index;                        // its place in the module state's types
    PyTypeObject* (*make)(PyObject* module);  // a new type for that module object
};

// In registration order.
extern const ClassEntry calendar_class;
extern const std::span<const ClassEntry> model_classes;
extern PyMethodDef* const analytics_functions;  // terminated by a null entry

// Private module functions that rebuild pickled objects; not in __all__.
extern const PyMethodDef model_restore_function;
extern const PyMethodDef calendar_restore_function;

}  // namespace tessel::py
