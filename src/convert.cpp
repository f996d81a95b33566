#include "convert.hpp"

#include "errors.hpp"

namespace tessel::py {
namespace {

// "'<qualname>' object is not an instance of '<target>'".
void raise_not_instance(PyObject* obj, const char* target) noexcept {
    Ref name(type_qualname(obj));
    if (!name) return;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name.get(), target);
}

PyObject* interned(const char* text) noexcept { return PyUnicode_InternFromString(text); }

// Appends the elements of a list or tuple by index, re-reading the length on
// every step exactly as their iterators do, so a __float__ that resizes the
// container behaves the same as under iteration.
template <class Convert>
bool for_each_element(PyObject* obj, Convert&& convert) {
    const bool is_list = PyList_CheckExact(obj);
    if (is_list || PyTuple_CheckExact(obj)) {
        for (Py_ssize_t i = 0;; ++i) {
            const Py_ssize_t n = is_list ? PyList_Size(obj) : PyTuple_Size(obj);
            if (i >= n) return true;
            Ref item(is_list ? PyList_GetItem(obj, i) : PyTuple_GetItem(obj, i));
            Py_XINCREF(item.get());
            if (!item || !convert(item.get())) return false;
        }
    }
    Ref iter(PyObject_GetIter(obj));
    if (!iter) return false;
    while (Ref item{PyIter_Next(iter.get())}) {
        if (!convert(item.get())) return false;
    }
    return !PyErr_Occurred();
}

template <class T, class Convert>
bool to_vector(PyObject* obj, std::vector<T>& out, Convert&& convert) {
    if (PyUnicode_Check(obj)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(obj)) {
        raise_not_instance(obj, "Sequence");
        return false;
    }
    const Py_ssize_t size = PyObject_Size(obj);  // only a hint for the room
    if (size < 0)
        PyErr_Clear();
    else
        out.reserve(static_cast<std::size_t>(size));
    return for_each_element(obj, [&](PyObject* item) {
        T value;
        if (!convert(item, value)) return false;
        out.push_back(std::move(value));
        return true;
    });
}

}  // namespace

bool to_double(PyObject* obj, double& out) noexcept {
    out = PyFloat_AsDouble(obj);
    return !(out == -1.0 && PyErr_Occurred());
}

bool to_text(PyObject* obj, std::string_view& out) noexcept {
    if (!PyUnicode_Check(obj)) {
        if (obj == Py_None)
            PyErr_SetString(PyExc_TypeError, "'None' is not an instance of 'str'");
        else
            raise_not_instance(obj, "str");
        return false;
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) return false;
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

bool to_doubles(PyObject* obj, std::vector<double>& out) { return to_vector(obj, out, to_double); }

bool to_texts(PyObject* obj, std::vector<std::string>& out) {
    return to_vector(obj, out, [](PyObject* item, std::string& value) {
        std::string_view view;
        if (!to_text(item, view)) return false;
        value.assign(view);
        return true;
    });
}

bool to_named_doubles(PyObject* obj, NamedDoubles& out) {
    if (!PyDict_Check(obj)) {
        raise_not_instance(obj, "dict");
        return false;
    }
    const Py_ssize_t size = PyDict_Size(obj);
    out.reserve(static_cast<std::size_t>(size));
    Py_ssize_t pos = 0, seen = 0;
    PyObject *key_borrowed, *value_borrowed;
    while (PyDict_Next(obj, &pos, &key_borrowed, &value_borrowed)) {
        // Hold both: a __float__ may remove them from the dict.
        Ref key(key_borrowed), value(value_borrowed);
        Py_INCREF(key_borrowed);
        Py_INCREF(value_borrowed);
        if (++seen > size) throw Fault("dictionary keys changed during iteration");
        std::string_view name;
        double number;
        if (!to_text(key.get(), name)) return false;
        std::string owned(name);  // the key's buffer dies with the key
        if (!to_double(value.get(), number)) return false;
        if (PyDict_Size(obj) != size) throw Fault("dictionary changed size during iteration");
        out.emplace_back(std::move(owned), number);
    }
    if (PyDict_Size(obj) != size) throw Fault("dictionary changed size during iteration");
    return true;
}

bool to_instant(PyObject* obj, Instant& out) noexcept {
    static PyObject* const timestamp_name = interned("timestamp");
    if (timestamp_name == nullptr) return false;
    Ref method(PyObject_GetAttr(obj, timestamp_name));
    if (!method) return false;
    Ref stamp(PyObject_CallNoArgs(method.get()));
    if (!stamp) return false;
    double seconds;
    if (!to_double(stamp.get(), seconds)) return false;
    const auto instant = instant_from_timestamp(seconds);
    if (!instant) {
        PyErr_SetString(PyExc_ValueError, "Invalid timestamp");
        return false;
    }
    out = *instant;
    return true;
}

PyObject* from_text(std::string_view v) noexcept {
    return PyUnicode_FromStringAndSize(v.data(), static_cast<Py_ssize_t>(v.size()));
}

namespace {
template <class T, class Convert>
PyObject* list_of(const std::vector<T>& values, Convert&& convert) noexcept {
    Ref list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = convert(values[i]);
        if (item == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), item);  // steals
    }
    return list.release();
}
}  // namespace

PyObject* from_doubles(const std::vector<double>& v) noexcept { return list_of(v, from_double); }

PyObject* from_texts(const std::vector<std::string>& v) noexcept {
    return list_of(v, [](const std::string& s) { return from_text(s); });
}

PyObject* from_named_doubles(const NamedDoubles& v) noexcept {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const auto& [name, value] : v) {
        Ref key(from_text(name)), number(from_double(value));
        if (!key || !number || PyDict_SetItem(dict.get(), key.get(), number.get()) < 0) return nullptr;
    }
    return dict.release();
}

namespace {

// datetime.datetime and datetime.timezone.utc, imported on first need and
// kept for the life of the process.
struct DatetimeApi {
    PyObject* datetime_type = nullptr;
    PyObject* utc = nullptr;
    PyObject* fold_kwargs = nullptr;
};

const DatetimeApi* datetime_api() noexcept {
    static DatetimeApi api;
    static bool ready = false;
    if (ready) return &api;
    Ref module(PyImport_ImportModule("datetime"));
    if (!module) return nullptr;
    Ref type(PyObject_GetAttrString(module.get(), "datetime"));
    Ref timezone(PyObject_GetAttrString(module.get(), "timezone"));
    Ref tzinfo(PyObject_GetAttrString(module.get(), "tzinfo"));
    if (!type || !timezone || !tzinfo) return nullptr;
    Ref utc(PyObject_GetAttrString(timezone.get(), "utc"));
    if (!utc) return nullptr;
    const int is_tzinfo = PyObject_IsInstance(utc.get(), tzinfo.get());
    if (is_tzinfo <= 0) {
        if (is_tzinfo == 0) PyErr_SetString(PyExc_TypeError, "datetime.timezone.utc is not a tzinfo");
        return nullptr;
    }
    Ref kwargs(Py_BuildValue("{s:i}", "fold", 0));
    if (!kwargs) return nullptr;
    api.datetime_type = type.release();
    api.utc = utc.release();
    api.fold_kwargs = kwargs.release();
    ready = true;
    return &api;
}

}  // namespace

PyObject* from_instant(const Instant& t) noexcept {
    const DatetimeApi* api = datetime_api();
    if (api == nullptr) return nullptr;
    const UtcFields f = utc_fields(t);
    Ref args(Py_BuildValue("(LiiiiiiO)", static_cast<long long>(f.year), f.month, f.day, f.hour, f.minute,
                           f.second, f.microsecond, api->utc));
    if (!args) return nullptr;
    Ref result(PyObject_Call(api->datetime_type, args.get(), api->fold_kwargs));
    if (!result) return nullptr;
    if (f.leap_second &&
        PyErr_WarnEx(PyExc_UserWarning, "ignored leap-second, `datetime` does not support leap-seconds", 1) < 0)
        return nullptr;
    return result.release();
}

}  // namespace tessel::py
