#pragma once
// Every text the module shows its callers, in one place. Callers may match on
// these texts: each changes only with the behaviour it reports. Those with
// a %-directive are formats for the interpreter's PyErr_Format.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tessel::messages {

// ---- calling: full_name is "<class>.<name>()" or "<name>()" ----

inline std::string too_many_positional(std::string_view full_name, std::size_t required, std::size_t count,
                                       std::size_t given) {
    std::string s(full_name);
    s += required == count ? " takes " + std::to_string(count)
                           : " takes from " + std::to_string(required) + " to " + std::to_string(count);
    return s + " positional arguments but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
}

inline std::string multiple_values(std::string_view full_name, std::string_view param) {
    return std::string(full_name) + " got multiple values for argument '" + std::string(param) + "'";
}

inline constexpr char UNEXPECTED_KEYWORD[] = "%s got an unexpected keyword argument '%U'";

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
inline std::string missing_required(std::string_view full_name, const std::vector<std::string_view>& missing) {
    std::string s(full_name);
    s += " missing " + std::to_string(missing.size()) + " required positional argument";
    s += missing.size() > 1 ? "s: " : ": ";
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) s += missing.size() == 2 ? " and " : (i + 1 == missing.size() ? ", and " : ", ");
        s.append("'").append(missing[i]).append("'");
    }
    return s;
}

inline constexpr char NOT_AN_INSTANCE[] = "'%U' object is not an instance of '%s'";
inline constexpr char ARGUMENT_ERROR[] = "argument '%s': %S";
inline constexpr char ALREADY_BORROWED[] = "Already borrowed";
inline constexpr char ALREADY_MUTABLY_BORROWED[] = "Already mutably borrowed";

// ---- conversions ----

inline constexpr char NONE_IS_NOT_STR[] = "'None' is not an instance of 'str'";
inline constexpr char STR_IS_NOT_A_VECTOR[] = "Can't extract `str` to `Vec`";
inline constexpr char INVALID_TIMESTAMP[] = "Invalid timestamp";
inline constexpr char LEAP_SECOND_IGNORED[] = "ignored leap-second, `datetime` does not support leap-seconds";
inline constexpr char UTC_IS_NOT_A_TZINFO[] = "datetime.timezone.utc is not a tzinfo";
inline constexpr char DICT_CHANGED_SIZE[] = "dictionary changed size during iteration";
inline constexpr char DICT_KEYS_CHANGED[] = "dictionary keys changed during iteration";

// ---- arrays (tessel_array) ----

inline constexpr char NOT_NUMBER_OR_ARRAY[] = "expected a number or a one-dimensional array, not '%U'";
inline constexpr char ARRAY_DIMENSIONS[] =
    "expected a number or a one-dimensional array, not an array of %zd dimensions";
inline constexpr char ARRAY_DTYPE[] = "expected an array of numbers, not of dtype '%U'";
inline constexpr char UNCHECKED_MEMORY[] =
    "the __array_interface__ of a '%U' object points to memory whose bounds cannot be checked; pass a numpy "
    "array or a bytes-like 'data'";
inline constexpr char BAD_ARRAY_INTERFACE[] = "the __array_interface__ of a '%U' object is not readable: %s";
inline constexpr char NEEDS_NUMPY[] = "tessel_array needs numpy (pip install numpy), which could not be imported: %S";

inline std::string unequal_lengths(std::string_view first, std::size_t first_size, std::string_view other,
                                   std::size_t other_size) {
    return "arrays of unequal lengths: '" + std::string(first) + "' has " + std::to_string(first_size) +
           " elements, '" + std::string(other) + "' has " + std::to_string(other_size);
}

// ---- faults ----

inline constexpr char PANIC_DOC[] =
    "Raised when the native code of tessel faults.\n\n"
    "Like SystemExit it derives from BaseException rather than Exception: it is\n"
    "meant to propagate to the top, not to be caught by ordinary handlers.";
inline constexpr char GENERIC_FAULT[] = "internal fault in tessel";
inline constexpr char UNCAUGHT_PANIC[] = "uncaught panic at ffi boundary\n";

// ---- interpreters ----

inline constexpr char OTHER_INTERPRETER[] =
    "this tessel object belongs to another interpreter; send objects between interpreters by pickling";
inline constexpr char MODULE_CLEARED[] = "tessel has been torn down in this interpreter";

// ---- operations ----

inline std::string unknown_option_type(std::string_view lowered) {
    return "Unknown option type: '" + std::string(lowered) + "'. Use 'call'/'c' or 'put'/'p'.";
}

inline std::string unknown_model_class(std::string_view cls) { return "Unknown model class: " + std::string(cls); }

inline std::string no_embedded_calendar(std::string_view underlying) {
    return "No embedded calendar for underlying: " + std::string(underlying);
}

inline std::string invalid_time_zone(std::string_view name) { return "Invalid IANA timezone: " + std::string(name); }

// The calendar document's reader; `where` is " at line L column C".
inline std::string duplicate_field(std::string_view field, std::string_view where) {
    return "duplicate field `" + std::string(field) + "`" + std::string(where);
}
inline std::string missing_field(std::string_view field, std::string_view where) {
    return "missing field `" + std::string(field) + "`" + std::string(where);
}
inline std::string invalid_json_type(std::string_view found, std::string_view expected) {
    return "invalid type: " + std::string(found) + ", expected " + std::string(expected);
}
inline constexpr char TRAILING_CHARACTERS[] = "trailing characters";

inline std::string invalid_tenor(std::string_view tenor) { return "Invalid tenor format: " + std::string(tenor); }
inline constexpr char EMPTY_FLOAT[] = "cannot parse float from empty string";
inline constexpr char INVALID_FLOAT[] = "invalid float literal";

}  // namespace tessel::messages
