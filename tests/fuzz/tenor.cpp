// tenor_to_ttx against the interpreter's float() on the text before the unit.
// float() reads a superset of the tenor grammar (it also skips white space and
// takes digit separators and non-ASCII digits), so: whatever the tenor reader
// accepts, float() must accept with the same value; whatever float() accepts
// using only the literal's own characters, the tenor reader must accept too;
// and the error messages are the fixed ones.
#include <Python.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "calendar/tenor.hpp"

namespace {

void start_interpreter() {
    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    config.install_signal_handlers = 0;  // leave SIGINT and friends to libFuzzer
    PyStatus status = PyConfig_SetBytesString(&config, &config.home, TESSEL_FUZZ_PYTHON_HOME);
    if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
    PyConfig_Clear(&config);
    if (PyStatus_Exception(status)) Py_ExitStatusException(status);
}

// float(text), or nullopt when it raises (or the text is no UTF-8).
std::optional<double> python_float(std::string_view text) {
    PyObject* str = PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict");
    if (str == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    PyObject* number = PyFloat_FromString(str);
    Py_DECREF(str);
    if (number == nullptr) {
        PyErr_Clear();
        return std::nullopt;
    }
    const double value = PyFloat_AsDouble(number);
    Py_DECREF(number);
    return value;
}

bool same(double a, double b) { return a == b ? std::signbit(a) == std::signbit(b) : std::isnan(a) && std::isnan(b); }

[[noreturn]] void fail(std::string_view tenor, const char* what) {
    std::fprintf(stderr, "tenor \"%s\": %s\n", std::string(tenor).c_str(), what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    start_interpreter();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view tenor(reinterpret_cast<const char*>(data), size);
    const tessel::Result<double> got = tessel::calendar::tenor_to_ttx(tenor);

    if (tenor.empty()) {
        if (got || got.error().message != "Invalid tenor format: ") fail(tenor, "empty tenor");
        return 0;
    }
    const char unit = tenor.back();
    if (std::strchr("dwmy", unit) == nullptr || unit == '\0') {
        if (got || got.error().message != "Invalid tenor format: " + std::string(tenor)) fail(tenor, "bad unit");
        return 0;
    }
    const std::string_view number = tenor.substr(0, tenor.size() - 1);
    if (number.empty()) {
        if (got || got.error().message != "cannot parse float from empty string") fail(tenor, "no number");
        return 0;
    }

    const std::optional<double> x = python_float(number);
    if (got) {
        if (!x) fail(tenor, "accepted, but float() refuses the number");
        const double want = unit == 'd' ? *x / 365.0 : unit == 'w' ? (*x * 7.0) / 365.0
                          : unit == 'm' ? (*x * 30.0) / 365.0 : *x;
        if (!same(got.value(), want)) fail(tenor, "value differs from float()");
        return 0;
    }
    if (got.error().message != "invalid float literal") fail(tenor, "unexpected message");
    const bool plain = number.find_first_not_of("0123456789+-.eEinfatyINFATY") == std::string_view::npos;
    if (x && plain) fail(tenor, "refused, but float() reads the number");
    return 0;
}
