#include "arrays.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

#include "convert.hpp"
#include "core/messages.hpp"
#include "errors.hpp"

namespace tessel::py {
namespace {

constexpr std::string_view NATIVE_FLOAT64 = std::endian::native == std::endian::little ? "<f8" : ">f8";
constexpr Py_ssize_t DOUBLE_SIZE = sizeof(double);

bool raise_with_type(PyObject* type, const char* format, PyObject* obj) {
    Ref name(type_qualname(obj));
    if (name) PyErr_Format(type, format, name.get());
    return false;
}

bool not_number_or_array(PyObject* obj) { return raise_with_type(PyExc_TypeError, messages::NOT_NUMBER_OR_ARRAY, obj); }

bool bad_interface(PyObject* obj, const std::string& why) {
    Ref name(type_qualname(obj));
    if (name) PyErr_Format(PyExc_TypeError, messages::BAD_ARRAY_INTERFACE, name.get(), why.c_str());
    return false;
}

// A borrowed item of an interface dict, held: reading the other items may
// run Python code (a __buffer__), which could change the dict.
Ref item(PyObject* dict, const char* key) {
    PyObject* value = PyDict_GetItemString(dict, key);
    Py_XINCREF(value);
    return Ref(value);
}

bool is_none(const Ref& value) { return !value || value.get() == Py_None; }

// An exact int that fits a Py_ssize_t; false without an exception otherwise.
bool exact_size(PyObject* obj, Py_ssize_t& out) {
    if (obj == nullptr || !PyLong_Check(obj)) return false;
    out = PyLong_AsSsize_t(obj);
    if (out == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        return false;
    }
    return true;
}

// (n,) of a shape tuple; false without an exception when it is not one.
bool one_dimension(PyObject* shape, Py_ssize_t& n) {
    return shape != nullptr && PyTuple_Check(shape) && PyTuple_Size(shape) == 1 &&
           exact_size(PyTuple_GetItem(shape, 0), n) && n >= 0;
}

// Elements at `first + i * stride` bytes, copied one by one: any alignment,
// any step. False with MemoryError set when there is no room for them.
bool gather(const char* first, Py_ssize_t stride, std::size_t n, std::vector<double>& out) {
    try {
        out.resize(n);
    } catch (const std::exception&) {  // bad_alloc, or length_error past the vector's limit
        PyErr_NoMemory();
        return false;
    }
    for (std::size_t i = 0; i < n; ++i)
        std::memcpy(&out[i], first + static_cast<Py_ssize_t>(i) * stride, sizeof(double));
    return true;
}

Ref call_method(PyObject* obj, PyObject* name) { return Ref(PyObject_CallMethodObjArgs(obj, name, nullptr)); }

// numpy.asarray(obj), which must be a numpy array: numpy turns the foreign
// kinds it knows (a __array__ method, a buffer) into one.
Ref as_ndarray(PyObject* obj, const ArrayApi& api, PyObject* kwargs = nullptr) {
    Ref args(PyTuple_Pack(1, obj));
    if (!args) return Ref();
    Ref array(PyObject_Call(api.asarray, args.get(), kwargs));
    if (array && !PyObject_TypeCheck(array.get(), reinterpret_cast<PyTypeObject*>(api.ndarray))) {
        raise_with_type(PyExc_TypeError, messages::NOT_NUMBER_OR_ARRAY, obj);
        return Ref();
    }
    return array;
}

bool read_ndarray(PyObject* array, NumberColumn& out, ModuleState& state);

// An array of another dtype: numeric kinds by numpy's cast to float64 (for
// integers the correctly rounded value, as float() gives; other floats
// exactly or rounded to nearest), objects element by element by the float
// rule; anything else (complex, text, dates, records) is refused.
bool read_converted(PyObject* array, std::string_view typestr, NumberColumn& out, ModuleState& state) {
    const char kind = typestr.size() >= 2 ? typestr[1] : '?';
    if (kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f') {
        Ref cast(as_ndarray(array, state.arrays, state.arrays.as_float64));
        return cast && read_ndarray(cast.get(), out, state);
    }
    if (kind == 'O') {
        Ref list(call_method(array, state.arrays.tolist_name));
        out.is_array = true;
        return list && to_doubles(list.get(), out.owned) && (out.size = out.owned.size(), true);
    }
    Ref dtype(PyObject_GetAttrString(array, "dtype"));
    Ref text(dtype ? PyObject_Str(dtype.get()) : nullptr);
    if (text) PyErr_Format(PyExc_TypeError, messages::ARRAY_DTYPE, text.get());
    return false;
}

// An exact numpy.ndarray: its __array_interface__ is numpy's own account of
// its memory (a subclass cannot replace it), and the array is held while the
// memory is read, so the memory is the array's as long as the call runs.
bool read_ndarray(PyObject* array, NumberColumn& out, ModuleState& state) {
    Ref iface(PyObject_GetAttr(array, state.arrays.interface_name));
    if (!iface) return false;
    if (!PyDict_Check(iface.get())) return bad_interface(array, "not a dict");
    Ref shape = item(iface.get(), "shape"), typestr = item(iface.get(), "typestr"), data = item(iface.get(), "data"),
        strides = item(iface.get(), "strides");
    if (!shape || !PyTuple_Check(shape.get()) || !typestr || !PyUnicode_Check(typestr.get()))
        return bad_interface(array, "no shape or typestr");
    const Py_ssize_t dimensions = PyTuple_Size(shape.get());
    if (dimensions == 0) return to_double(array, out.number);  // a 0-d array is a number
    if (dimensions != 1) {
        PyErr_Format(PyExc_TypeError, messages::ARRAY_DIMENSIONS, dimensions);
        return false;
    }
    Py_ssize_t n = 0;
    if (!one_dimension(shape.get(), n)) return bad_interface(array, "no length");
    std::string_view type;
    if (!to_text(typestr.get(), type)) return false;
    if (type != NATIVE_FLOAT64) return read_converted(array, type, out, state);
    Py_ssize_t stride = DOUBLE_SIZE;
    if (!is_none(strides) && !(PyTuple_Check(strides.get()) && PyTuple_Size(strides.get()) == 1 &&
                               exact_size(PyTuple_GetItem(strides.get(), 0), stride)))
        return bad_interface(array, "strides");
    if (!data || !PyTuple_Check(data.get()) || PyTuple_Size(data.get()) != 2)
        return bad_interface(array, "data");
    const char* first = static_cast<const char*>(PyLong_AsVoidPtr(PyTuple_GetItem(data.get(), 0)));
    if (first == nullptr && PyErr_Occurred()) return false;
    out.is_array = true;
    out.size = static_cast<std::size_t>(n);
    if (n == 0) return true;
    if (stride == DOUBLE_SIZE && reinterpret_cast<std::uintptr_t>(first) % alignof(double) == 0) {
        out.in_place = reinterpret_cast<const double*>(first);
        Py_INCREF(array);
        out.held = Ref(array);
        return true;
    }
    return gather(first, stride, out.size, out.owned);
}

// The __array_interface__ of any other object describes memory by a bare
// address that nothing here can check, so only interfaces whose data is a
// bytes-like object (or the object's own buffer) are read: float64 elements,
// each one inside that data, copied out.
bool read_foreign_interface(PyObject* obj, PyObject* iface, NumberColumn& out) {
    if (!PyDict_Check(iface)) return bad_interface(obj, "not a dict");
    Ref shape = item(iface, "shape"), typestr = item(iface, "typestr"), data = item(iface, "data"),
        strides = item(iface, "strides"), offset_item = item(iface, "offset"), mask = item(iface, "mask");
    if (!typestr || !PyUnicode_Check(typestr.get())) return bad_interface(obj, "no typestr");
    std::string_view type;
    if (!to_text(typestr.get(), type)) return false;
    if (type != NATIVE_FLOAT64) return bad_interface(obj, "its typestr is not '" + std::string(NATIVE_FLOAT64) + "'");
    Py_ssize_t n = 0, stride = DOUBLE_SIZE, offset = 0;
    if (!one_dimension(shape.get(), n)) return bad_interface(obj, "its shape is not (n,)");
    if (!is_none(strides) && !(PyTuple_Check(strides.get()) && PyTuple_Size(strides.get()) == 1 &&
                               exact_size(PyTuple_GetItem(strides.get(), 0), stride)))
        return bad_interface(obj, "its strides are not (s,)");
    if (!is_none(offset_item) && !(exact_size(offset_item.get(), offset) && offset >= 0))
        return bad_interface(obj, "its offset is not a count of bytes");
    if (!is_none(mask)) return bad_interface(obj, "it has a mask");
    if (!is_none(data) && PyTuple_Check(data.get())) return raise_with_type(PyExc_TypeError, messages::UNCHECKED_MEMORY, obj);
    // The bytes of the data, or of the object itself: a copy unless they are bytes already.
    PyObject* source = is_none(data) ? obj : data.get();
    Ref bytes;
    if (PyBytes_CheckExact(source)) {
        Py_INCREF(source);
        bytes = Ref(source);
    } else {
        Ref view(PyMemoryView_FromObject(source));
        if (!view) return false;
        bytes = Ref(PyBytes_FromObject(view.get()));
        if (!bytes) return false;
    }
    char* buffer = nullptr;
    Py_ssize_t length = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &buffer, &length) < 0) return false;
    // Every element [offset + i * stride, + 8) inside [0, length): the first
    // and the last bound all the others. No more elements than bytes either:
    // a zero stride repeats one element, but not without end.
    if (n > length) return bad_interface(obj, "its shape claims more elements than its data has bytes");
    if (n > 0) {
        Py_ssize_t span = 0, low = 0, high = 0;
        if (__builtin_mul_overflow(n - 1, stride, &span) || __builtin_add_overflow(offset, span, &low) ||
            __builtin_add_overflow(std::max(offset, low), DOUBLE_SIZE, &high) || std::min(offset, low) < 0 ||
            high > length)
            return bad_interface(obj, "its shape, strides and offset reach outside its " + std::to_string(length) +
                                          " bytes of data");
    }
    out.is_array = true;
    out.size = static_cast<std::size_t>(n);
    return gather(buffer + offset, stride, out.size, out.owned);
}

// Whether the object has the attribute; false with an exception set only for
// an error other than AttributeError.
bool has_attribute(PyObject* obj, PyObject* name, Ref& value) {
    value = Ref(PyObject_GetAttr(obj, name));
    if (value) return true;
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
    return false;
}

bool module_cleared() {
    PyErr_SetString(PyExc_RuntimeError, messages::MODULE_CLEARED);
    return false;
}

}  // namespace

bool to_number_column(PyObject* obj, NumberColumn& out, ModuleState& state) {
    if (PyFloat_Check(obj) || PyLong_Check(obj)) return to_double(obj, out.number);
    const ArrayApi& api = state.arrays;
    if (api.ndarray == nullptr) return module_cleared();
    if (PyUnicode_Check(obj)) return not_number_or_array(obj);
    if (PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(api.ndarray))) {
        if (Py_TYPE(obj) == reinterpret_cast<PyTypeObject*>(api.ndarray)) return read_ndarray(obj, out, state);
        // A subclass may describe itself otherwise; numpy's view of it as a
        // plain array cannot.
        Ref plain(as_ndarray(obj, api));
        return plain && read_ndarray(plain.get(), out, state);
    }
    // numpy's scalars (float32, int64, ...) are numbers.
    if (PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(api.generic))) return to_double(obj, out.number);
    Ref attribute;
    if (has_attribute(obj, api.interface_name, attribute)) return read_foreign_interface(obj, attribute.get(), out);
    if (PyErr_Occurred()) return false;
    if (has_attribute(obj, api.struct_name, attribute))
        return raise_with_type(PyExc_TypeError, messages::UNCHECKED_MEMORY, obj);
    if (PyErr_Occurred()) return false;
    if (has_attribute(obj, api.array_name, attribute)) {
        Ref array(as_ndarray(obj, api));
        return array && read_ndarray(array.get(), out, state);
    }
    if (PyErr_Occurred()) return false;
    if (PySequence_Check(obj)) {
        out.is_array = true;
        if (!to_doubles(obj, out.owned)) return false;
        out.size = out.owned.size();
        return true;
    }
    if (PyNumber_Check(obj)) return to_double(obj, out.number);
    return not_number_or_array(obj);
}

namespace {

// A numpy array of fixed-width texts ('<U4': four code points each, padded
// with zeros, which numpy drops) read in its own memory: each element is the
// text numpy would give, without making it. A text that names no option
// type is made, for tessel's message. False with nothing set when the array
// is no such array (the caller then reads its elements as objects).
bool read_text_array(PyObject* array, TypeColumn& out, std::optional<std::string>& unknown, ModuleState& state,
                     bool& read) {
    read = false;
    Ref iface(PyObject_GetAttr(array, state.arrays.interface_name));
    if (!iface) return false;
    if (!PyDict_Check(iface.get())) return true;
    Ref shape = item(iface.get(), "shape"), typestr = item(iface.get(), "typestr"), data = item(iface.get(), "data"),
        strides = item(iface.get(), "strides");
    std::string_view type;
    Py_ssize_t n = 0, width = 0, stride = 0;
    constexpr std::string_view NATIVE_TEXT = std::endian::native == std::endian::little ? "<U" : ">U";
    if (!typestr || !PyUnicode_Check(typestr.get()) || !to_text(typestr.get(), type) || !type.starts_with(NATIVE_TEXT))
        return true;
    for (const char c : type.substr(2)) {
        if (c < '0' || c > '9' || width > 1'000'000) return true;
        width = width * 10 + (c - '0');
    }
    stride = 4 * width;
    if (!one_dimension(shape.get(), n) || width == 0) return true;
    if (!is_none(strides) && !(PyTuple_Check(strides.get()) && PyTuple_Size(strides.get()) == 1 &&
                               exact_size(PyTuple_GetItem(strides.get(), 0), stride)))
        return true;
    if (!data || !PyTuple_Check(data.get()) || PyTuple_Size(data.get()) != 2) return true;
    const char* first = static_cast<const char*>(PyLong_AsVoidPtr(PyTuple_GetItem(data.get(), 0)));
    if (first == nullptr && PyErr_Occurred()) return false;
    read = true;
    out.is_array = true;
    out.types.resize(static_cast<std::size_t>(n));
    // An element is known by its bytes.
    TwoLatest<const char*> latest;
    for (Py_ssize_t i = 0; i < n; ++i) {
        const char* element = first + i * stride;
        analytics::OptionType& type = out.types[static_cast<std::size_t>(i)];
        if (const auto* known = latest.find([&](const char* seen) {
                return std::memcmp(element, seen, static_cast<std::size_t>(stride)) == 0;
            })) {
            type = *known;
            continue;
        }
        // The code points, less numpy's padding; the four-letter words in ASCII.
        char word[4];
        Py_ssize_t length = width;
        std::uint32_t c = 0;
        while (length > 0 && (std::memcpy(&c, element + 4 * (length - 1), 4), c == 0)) --length;
        bool ascii = length <= 4;
        for (Py_ssize_t j = 0; ascii && j < length; ++j) {
            std::memcpy(&c, element + 4 * j, 4);
            ascii = c < 0x80;
            word[j] = static_cast<char>(c);
        }
        const auto type_of_word = ascii ? analytics::parse_option_type({word, static_cast<std::size_t>(length)})
                                        : std::nullopt;
        if (type_of_word) {
            type = *type_of_word;
        } else {
            int order = std::endian::native == std::endian::little ? -1 : 1;
            Ref text(PyUnicode_DecodeUTF32(element, 4 * length, nullptr, &order));
            if (!text) return false;
            std::optional<std::string> message;
            if (!to_option_type(text.get(), type, message, state)) return false;
            if (message && !unknown) unknown = std::move(message);
        }
        latest.keep(element, type);
    }
    return true;
}

}  // namespace

bool to_type_column(PyObject* obj, TypeColumn& out, std::optional<std::string>& unknown, ModuleState& state) {
    // A text, or anything that is no sequence of texts, is read as one text
    // (whose rule then gives tessel's message).
    if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj))
        return to_option_type(obj, out.single, unknown, state);
    const ArrayApi& api = state.arrays;
    if (api.ndarray == nullptr) return module_cleared();
    Ref attribute, elements;
    const bool numpy_array = PyObject_TypeCheck(obj, reinterpret_cast<PyTypeObject*>(api.ndarray));
    if (numpy_array || has_attribute(obj, api.array_name, attribute)) {
        // A numpy array, or what numpy makes one of, is read as its list of
        // elements: Python texts, whatever numpy stores them as.
        Ref array(as_ndarray(obj, api));
        if (!array) return false;
        if (Py_TYPE(array.get()) == reinterpret_cast<PyTypeObject*>(api.ndarray)) {
            bool read = false;
            if (!read_text_array(array.get(), out, unknown, state, read)) return false;
            if (read) return true;
        }
        Ref dimensions(PyObject_GetAttrString(array.get(), "ndim"));
        if (!dimensions) return false;
        const Py_ssize_t ndim = PyLong_AsSsize_t(dimensions.get());
        if (ndim == -1 && PyErr_Occurred()) return false;
        if (ndim > 1) {
            PyErr_Format(PyExc_TypeError, messages::ARRAY_DIMENSIONS, ndim);
            return false;
        }
        elements = call_method(array.get(), api.tolist_name);
        if (!elements) return false;
        if (ndim == 0) return to_option_type(elements.get(), out.single, unknown, state);
        obj = elements.get();
    } else if (PyErr_Occurred()) {
        return false;
    }
    if (!PySequence_Check(obj)) return to_option_type(obj, out.single, unknown, state);
    out.is_array = true;
    return to_option_types(obj, out.types, unknown, state);
}

void raise_unequal_lengths(const Signature& sig, std::size_t first, std::size_t first_size, std::size_t other,
                           std::size_t other_size) noexcept {
    try {
        raise_value_error(messages::unequal_lengths(sig.param_name(first), first_size, sig.param_name(other), other_size));
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    }
}

PyObject* new_result(ModuleState& state, std::size_t size, bool scalar, double*& data) {
    const ArrayApi& api = state.arrays;
    if (api.empty == nullptr) {
        module_cleared();
        return nullptr;
    }
    Ref shape(scalar ? PyTuple_New(0) : Py_BuildValue("(n)", static_cast<Py_ssize_t>(size)));
    if (!shape) return nullptr;
    Ref array(PyObject_CallFunctionObjArgs(api.empty, shape.get(), nullptr));
    if (!array) return nullptr;
    Ref iface(PyObject_GetAttr(array.get(), api.interface_name));
    if (!iface) return nullptr;
    PyObject* address = PyDict_Check(iface.get()) ? PyDict_GetItemString(iface.get(), "data") : nullptr;
    if (address == nullptr || !PyTuple_Check(address) || PyTuple_Size(address) != 2)
        throw Fault("numpy.empty made an array without a data address");
    data = static_cast<double*>(PyLong_AsVoidPtr(PyTuple_GetItem(address, 0)));
    if (data == nullptr && PyErr_Occurred()) return nullptr;
    return array.release();
}

}  // namespace tessel::py
