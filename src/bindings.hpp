#pragma once
// What each binding file contributes to the module.
#include "py.hpp"

namespace tessel::py {

struct ClassEntry {
    const char* name;
    PyTypeObject* (*type)();  // built on first need, kept for the process
};

// In registration order.
extern const ClassEntry calendar_class;
extern const ClassEntry model_classes[3];
extern PyMethodDef analytics_functions[];  // terminated by a null entry

// Private module functions that rebuild pickled objects; not in __all__.
extern const PyMethodDef model_restore_function;
extern const PyMethodDef calendar_restore_function;

}  // namespace tessel::py
