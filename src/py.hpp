#pragma once
// The one include of the interpreter's headers; the limited API level comes
// from the build (Py_LIMITED_API = 0x030A0000).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

// Reference counts change only through the interpreter's own functions. The
// inline forms of the 3.10 stable ABI write the count of immortal objects
// (None, and from 3.12 on interned and static objects), which the interpreter
// never moves back, and which interpreters with their own locks share, so
// such writes would both drift and race. The functions leave immortals alone.
#undef Py_INCREF
#undef Py_DECREF
#undef Py_XINCREF
#undef Py_XDECREF
#define Py_INCREF(op) Py_IncRef(_PyObject_CAST(op))
#define Py_DECREF(op) Py_DecRef(_PyObject_CAST(op))
#define Py_XINCREF(op) Py_IncRef(_PyObject_CAST(op))
#define Py_XDECREF(op) Py_DecRef(_PyObject_CAST(op))

#include <utility>

namespace tessel::py {

// Owned reference.
class Ref {
public:
    Ref() = default;
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    Ref& operator=(Ref&& o) noexcept {
        Py_XDECREF(p_);
        p_ = std::exchange(o.p_, nullptr);
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    PyObject* p_ = nullptr;
};

}  // namespace tessel::py
