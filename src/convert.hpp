#pragma once
// Conversions between Python objects and the values of the plain C++ layers.
// Argument conversions return false with a Python exception set; result
// conversions return a new reference or nullptr with an exception set.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analytics/option_type.hpp"
#include "core/instant.hpp"
#include "module_state.hpp"
#include "py.hpp"

namespace tessel::py {

using NamedDoubles = std::vector<std::pair<std::string, double>>;

// Python objects -> values.
inline bool to_double(PyObject* obj, double& out) noexcept {
    out = PyFloat_AsDouble(obj);
    return !(out == -1.0 && PyErr_Occurred());
}
inline bool to_int64(PyObject* obj, std::int64_t& out) noexcept {
    const long long v = PyLong_AsLongLong(obj);
    out = v;
    return !(v == -1 && PyErr_Occurred());
}
// The view borrows the str's UTF-8 buffer: valid while the str lives.
bool to_text(PyObject* obj, std::string_view& out) noexcept;
// A str that names no option type converts, leaving the ValueError's message
// in `unknown` to be raised once the other arguments have converted.
bool to_option_type(PyObject* obj, analytics::OptionType& out, std::optional<std::string>& unknown,
                    ModuleState& state);
// A sequence of texts read as option types, by the sequence rule and the
// option-type rule; the first text that names none leaves its message in
// `unknown`, as to_option_type does.
bool to_option_types(PyObject* obj, std::vector<analytics::OptionType>& out, std::optional<std::string>& unknown,
                     ModuleState& state);

// A column of option types repeats a few words: the two met last (by a key
// that stands for the word) and what each read as, so that a column mixing
// a call word and a put word reads each once.
template <class Key>
class TwoLatest {
public:
    template <class Same>
    const analytics::OptionType* find(Same&& same) const {
        for (int s = 0; s < 2; ++s)
            if (key_[s] != Key{} && same(key_[s])) return &type_[s];
        return nullptr;
    }
    void keep(Key key, analytics::OptionType type) {
        key_[older_] = key;
        type_[older_] = type;
        older_ ^= 1;
    }

private:
    Key key_[2]{};
    analytics::OptionType type_[2]{};
    int older_ = 0;
};
bool to_doubles(PyObject* obj, std::vector<double>& out);
bool to_texts(PyObject* obj, std::vector<std::string>& out);
bool to_named_doubles(PyObject* obj, NamedDoubles& out);
bool to_instant(PyObject* obj, Instant& out, ModuleState& state) noexcept;

// Values -> new Python objects.
inline PyObject* from_double(double v) noexcept { return PyFloat_FromDouble(v); }
inline PyObject* from_bool(bool v) noexcept { return PyBool_FromLong(v); }
PyObject* from_text(std::string_view v) noexcept;
PyObject* from_doubles(const std::vector<double>& v) noexcept;
PyObject* from_texts(const std::vector<std::string>& v) noexcept;
PyObject* from_named_doubles(const NamedDoubles& v) noexcept;
PyObject* from_instant(const Instant& t, ModuleState& state) noexcept;

}  // namespace tessel::py
