#pragma once
// What objects show of themselves (repr) and how they travel to other
// processes (pickle, copy). The classes are registered under "builtins",
// where pickle cannot find them by name, so an object reduces to a private
// function of the tessel module plus its state.
#include <string>
#include <utility>
#include <vector>

#include "core/instant.hpp"
#include "py.hpp"

namespace tessel::py {

// "Cls(name=text, ...)" from texts already rendered (str objects, none
// missing); new reference or nullptr with an exception set.
PyObject* format_repr(const char* cls, const std::vector<std::pair<std::string, Ref>>& fields) noexcept;

struct ModuleState;

// (tessel.<restore_name>, args) with the function pickle will find, that of
// the interpreter's tessel module; `args` is a tuple. New reference.
PyObject* reduction(const char* restore_name, Ref args) noexcept;

// The expiry as ISO 8601 text for a repr, or the raw instant when datetime
// cannot show it; nullptr when an interrupt or exit came up on the way.
PyObject* instant_text(const Instant& t, ModuleState& module) noexcept;

// repr() of a value converted to Python.
inline PyObject* repr_of(PyObject* value) noexcept {
    Ref owned(value);
    return owned ? PyObject_Repr(owned.get()) : nullptr;
}

}  // namespace tessel::py
