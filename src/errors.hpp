#pragma once
// Failures crossing into the interpreter.
#include <stdexcept>
#include <string>

#include "py.hpp"

namespace tessel::py {

// An internal fault raised by the boundary itself (a broken invariant while
// converting); surfaces as PanicException.
struct Fault : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ModuleState;

// PanicException, derived from BaseException; one per interpreter, kept in
// the module state. New reference.
PyObject* new_panic_type() noexcept;

// Raises the state's PanicException for the C++ exception being handled;
// call only inside a catch block. Without a state (a module torn down) the
// fault is raised as SystemError.
void raise_panic_from_current(const ModuleState* state) noexcept;

// Raises ValueError with an operation's message.
void raise_value_error(const std::string& message) noexcept;

// Re-raises a pending TypeError (exactly that type) as
// "argument '<name>': <message>" with the original as its __cause__; any
// other pending exception is left as it is.
void decorate_argument_error(const char* name) noexcept;

// For a failure that the caller may ignore: clears the pending exception and
// returns true when it is an Exception (or none is pending); leaves anything
// else (KeyboardInterrupt, SystemExit, ...) pending and returns false, since
// that must reach the caller as raised.
bool clear_ordinary_error() noexcept;

// "'<qualified type name>'" of an object's type, for messages. New reference.
PyObject* type_qualname(PyObject* obj) noexcept;

}  // namespace tessel::py
