#include "convert.hpp"

#include <algorithm>

#include "core/ascii.hpp"
#include "core/messages.hpp"
#include "errors.hpp"

namespace tessel::py {
namespace {

// "'<qualname>' object is not an instance of '<target>'".
void raise_not_instance(PyObject* obj, const char* target) noexcept {
    Ref name(type_qualname(obj));
    if (!name) return;
    PyErr_Format(PyExc_TypeError, messages::NOT_AN_INSTANCE, name.get(), target);
}

constexpr std::size_t MAX_HINTED_ROOM = 4096;

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
        PyErr_SetString(PyExc_TypeError, messages::STR_IS_NOT_A_VECTOR);
        return false;
    }
    if (!PySequence_Check(obj)) {
        raise_not_instance(obj, "Sequence");
        return false;
    }
    // The length is only a hint: a user __len__ may claim any size, so the
    // room it buys is capped and the elements actually yielded grow the rest.
    // Its failure is ignored unless it is an interrupt or an exit.
    const Py_ssize_t size = PyObject_Size(obj);
    if (size < 0) {
        if (!clear_ordinary_error()) return false;
    } else
        out.reserve(std::min(static_cast<std::size_t>(size), MAX_HINTED_ROOM));
    return for_each_element(obj, [&](PyObject* item) {
        T value;
        if (!convert(item, value)) return false;
        out.push_back(std::move(value));
        return true;
    });
}

}  // namespace

bool to_text(PyObject* obj, std::string_view& out) noexcept {
    if (!PyUnicode_Check(obj)) {
        if (obj == Py_None)
            PyErr_SetString(PyExc_TypeError, messages::NONE_IS_NOT_STR);
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

bool to_option_type(PyObject* obj, analytics::OptionType& out, std::optional<std::string>& unknown,
                    ModuleState& state) {
    for (std::size_t i = 0; i < state.option_words.size(); ++i) {
        if (obj == state.option_words[i]) {
            out = i < 2 ? analytics::OptionType::Call : analytics::OptionType::Put;
            return true;
        }
    }
    std::string_view text;
    if (!to_text(obj, text)) return false;
    if (const auto type = analytics::parse_option_type(text)) {
        out = *type;
        return true;
    }
    // The message shows the text lower-cased as str.lower() does it, which
    // for ASCII text is ASCII folding; anything else asks the interpreter
    // (str's own method, whatever a subclass defines).
    if (is_ascii(text)) {
        unknown = messages::unknown_option_type(ascii_lower(text));
        return true;
    }
    if (state.str_lower == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, messages::MODULE_CLEARED);
        return false;
    }
    Ref lowered(PyObject_CallFunctionObjArgs(state.str_lower, obj, nullptr));
    std::string_view lowered_text;
    if (!lowered || !to_text(lowered.get(), lowered_text)) return false;
    unknown = messages::unknown_option_type(lowered_text);
    return true;
}

bool to_doubles(PyObject* obj, std::vector<double>& out) {
    // Lists and tuples pass the sequence checks and are read by index. An
    // exact float runs no Python code while it converts, so it needs no
    // reference of its own and cannot resize the list; anything else may
    // (__float__, __index__), so the length is read again after it.
    const bool is_list = PyList_CheckExact(obj);
    if (!is_list && !PyTuple_CheckExact(obj)) return to_vector(obj, out, to_double);
    Py_ssize_t n = is_list ? PyList_Size(obj) : PyTuple_Size(obj);
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = is_list ? PyList_GetItem(obj, i) : PyTuple_GetItem(obj, i);
        if (PyFloat_CheckExact(item)) {
            out.push_back(PyFloat_AsDouble(item));
            continue;
        }
        Py_INCREF(item);
        Ref held(item);
        double value;
        if (!to_double(item, value)) return false;
        out.push_back(value);
        if (is_list) n = PyList_Size(obj);
    }
    return true;
}

bool to_option_types(PyObject* obj, std::vector<analytics::OptionType>& out, std::optional<std::string>& unknown,
                     ModuleState& state) {
    const bool is_list = PyList_CheckExact(obj);
    if (is_list || PyTuple_CheckExact(obj)) {
        // Reading a text runs no Python code, so the list cannot change while
        // it is read, and its items need no reference of their own: an item
        // is known by its address.
        const Py_ssize_t n = is_list ? PyList_Size(obj) : PyTuple_Size(obj);
        out.assign(static_cast<std::size_t>(n), analytics::OptionType::Call);
        TwoLatest<PyObject*> latest;
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* item = is_list ? PyList_GetItem(obj, i) : PyTuple_GetItem(obj, i);
            analytics::OptionType& type = out[static_cast<std::size_t>(i)];
            if (const auto* known = latest.find([&](PyObject* seen) { return seen == item; })) {
                type = *known;
                continue;
            }
            std::optional<std::string> message;
            // An unknown text leaves Call; the call fails anyway.
            if (!to_option_type(item, type, message, state)) return false;
            if (message && !unknown) unknown = std::move(message);
            latest.keep(item, type);
        }
        return true;
    }
    // Any other sequence: the item before is held, so that its address
    // cannot come back as another object's.
    Ref previous;
    analytics::OptionType previous_type{};
    return to_vector(obj, out, [&](PyObject* item, analytics::OptionType& value) {
        if (item == previous.get()) {
            value = previous_type;
            return true;
        }
        std::optional<std::string> message;
        value = analytics::OptionType::Call;  // what an unknown text leaves; the call fails anyway
        if (!to_option_type(item, value, message, state)) return false;
        if (message && !unknown) unknown = std::move(message);
        Py_INCREF(item);
        previous = Ref(item);
        previous_type = value;
        return true;
    });
}

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
        if (++seen > size) throw Fault(messages::DICT_KEYS_CHANGED);
        std::string_view name;
        double number;
        if (!to_text(key.get(), name)) return false;
        std::string owned(name);  // the key's buffer dies with the key
        if (!to_double(value.get(), number)) return false;
        if (PyDict_Size(obj) != size) throw Fault(messages::DICT_CHANGED_SIZE);
        out.emplace_back(std::move(owned), number);
    }
    if (PyDict_Size(obj) != size) throw Fault(messages::DICT_CHANGED_SIZE);
    return true;
}

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (years 0 and later).
constexpr long long days_from_civil(int year, int month, int day) {
    const int y = year - (month <= 2);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<long long>(era) * 146097 + doe - 719468;
}
static_assert(days_from_civil(1970, 1, 1) == 0 && days_from_civil(2025, 1, 1) == 20089);

// timestamp() of an exact datetime whose tzinfo is timezone.utc, from its
// fields: the method builds a timedelta and Python ints on the way to the
// same number, the whole microseconds since the epoch over 10**6, correctly
// rounded, which below 2**53 microseconds is the quotient of two doubles.
// datetime is a static type, so its methods cannot be replaced. False for
// anything else: the caller then calls the method, unless an exception that
// is no Exception is left pending, which it passes on.
bool utc_datetime_timestamp(PyObject* obj, double& seconds, ModuleState& module) noexcept {
    const DatetimeApi* api = loaded_datetime_api(module);
    if (api == nullptr || Py_TYPE(obj) != reinterpret_cast<PyTypeObject*>(api->datetime_type)) return false;
    const auto fail = [] {
        clear_ordinary_error();
        return false;
    };
    // One call gives every field: (datetime, (state, tzinfo)), the state in
    // the pickle form of ten bytes: year (two, big-endian), month, day, hour,
    // minute, second, microsecond (three, big-endian). The type's own method
    // is called directly, which skips looking it up on every argument.
    Ref reduced(PyObject_CallFunctionObjArgs(api->reduce, obj, nullptr));
    if (!reduced) return fail();
    PyObject* args = PyTuple_Check(reduced.get()) && PyTuple_Size(reduced.get()) == 2
                         ? PyTuple_GetItem(reduced.get(), 1)
                         : nullptr;
    if (args == nullptr || !PyTuple_Check(args) || PyTuple_Size(args) != 2) return fail();
    if (PyTuple_GetItem(args, 1) != api->utc) return false;
    PyObject* state = PyTuple_GetItem(args, 0);
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (state == nullptr || !PyBytes_Check(state) || PyBytes_AsStringAndSize(state, &data, &size) < 0 || size != 10)
        return fail();
    const auto* b = reinterpret_cast<const unsigned char*>(data);
    const long long days = days_from_civil(b[0] * 256 + b[1], b[2] & 0x7F, b[3]);
    const long long micros = (days * 86400 + b[4] * 3600 + b[5] * 60 + b[6]) * 1000000 + (b[7] << 16 | b[8] << 8 | b[9]);
    constexpr long long EXACT = 1LL << 53;
    if (micros <= -EXACT || micros >= EXACT) return false;
    seconds = static_cast<double>(micros) / 1e6;
    return true;
}

}  // namespace

bool to_instant(PyObject* obj, Instant& out, ModuleState& state) noexcept {
    double seconds;
    if (!utc_datetime_timestamp(obj, seconds, state)) {
        if (PyErr_Occurred()) return false;
        if (state.timestamp_name == nullptr) {
            PyErr_SetString(PyExc_RuntimeError, messages::MODULE_CLEARED);
            return false;
        }
        // Calls the method without first making a bound-method object.
        Ref stamp(PyObject_CallMethodObjArgs(obj, state.timestamp_name, nullptr));
        if (!stamp) return false;
        if (!to_double(stamp.get(), seconds)) return false;
    }
    const auto instant = instant_from_timestamp(seconds);
    if (!instant) {
        PyErr_SetString(PyExc_ValueError, messages::INVALID_TIMESTAMP);
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

PyObject* from_instant(const Instant& t, ModuleState& state) noexcept {
    const DatetimeApi* api = datetime_api(state);
    if (api == nullptr) return nullptr;
    const UtcFields f = utc_fields(t);
    Ref args(Py_BuildValue("(LiiiiiiO)", static_cast<long long>(f.year), f.month, f.day, f.hour, f.minute,
                           f.second, f.microsecond, api->utc));
    if (!args) return nullptr;
    Ref result(PyObject_Call(api->datetime_type, args.get(), api->fold_kwargs));
    if (!result) return nullptr;
    if (f.leap_second &&
        PyErr_WarnEx(PyExc_UserWarning, messages::LEAP_SECOND_IGNORED, 1) < 0)
        return nullptr;
    return result.release();
}

}  // namespace tessel::py
