#pragma once
// The arguments and results of the functions over arrays (tessel_array).
// Arrays are read through numpy's __array_interface__, plain Python objects
// that the 3.10 limited API can read, where the buffer protocol is not in it.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "analytics/option_type.hpp"
#include "module_state.hpp"
#include "py.hpp"
#include "signature.hpp"

namespace tessel::py {

// A numeric argument: one number that every element shares, or the elements
// of a one-dimensional array. A numpy array of aligned float64 with
// consecutive elements is read in place and held for the call, so its memory
// stays put while the interpreter lock is released; anything else is copied
// into memory the column owns, a number or element at a time by the float
// rule, or by numpy's cast from another numeric dtype.
struct NumberColumn {
    bool is_array = false;
    double number = 0.0;
    const double* in_place = nullptr;  // else `owned`
    std::size_t size = 0;
    std::vector<double> owned;
    Ref held;

    const double* elements() const { return in_place != nullptr ? in_place : owned.data(); }
};

// call_put: one text, or a sequence of texts (a list, a tuple, a numpy array
// or what numpy.asarray makes one of), each read as tessel reads one.
struct TypeColumn {
    bool is_array = false;
    analytics::OptionType single = analytics::OptionType::Call;
    std::vector<analytics::OptionType> types;
};

// False with an exception set; a TypeError is for the caller to prefix with
// the argument's name. Unknown option types leave their message in `unknown`.
bool to_number_column(PyObject* obj, NumberColumn& out, ModuleState& state);
bool to_type_column(PyObject* obj, TypeColumn& out, std::optional<std::string>& unknown, ModuleState& state);

// ValueError: the arrays of parameters `first` and `other` differ in length.
void raise_unequal_lengths(const Signature& sig, std::size_t first, std::size_t first_size, std::size_t other,
                           std::size_t other_size) noexcept;

// A new numpy float64 array of `size` elements, or of shape () when
// `scalar`; `data` receives its memory. nullptr with an exception set.
PyObject* new_result(ModuleState& state, std::size_t size, bool scalar, double*& data);

// Releases the interpreter lock for its lifetime, when asked to.
class WithoutLock {
public:
    explicit WithoutLock(bool release) noexcept : saved_(release ? PyEval_SaveThread() : nullptr) {}
    WithoutLock(const WithoutLock&) = delete;
    WithoutLock& operator=(const WithoutLock&) = delete;
    ~WithoutLock() {
        if (saved_ != nullptr) PyEval_RestoreThread(saved_);
    }

private:
    PyThreadState* saved_;
};

}  // namespace tessel::py
