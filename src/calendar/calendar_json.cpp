#include "calendar/calendar_json.hpp"

#include <algorithm>
#include <cstring>
#include <mutex>

#include <simdjson.h>

#include "calendar/decimal.hpp"
#include "core/ascii.hpp"
#include "core/messages.hpp"

namespace tessel::calendar {
namespace {

namespace dom = simdjson::dom;

constexpr std::string_view FIELD_NAMES[3] = {"TimeWeightings", "DayWeightings", "IanaTimeZone"};

// simdjson chooses its kernel on first use and lets an environment variable
// override the choice; choosing it here keeps the environment out of it.
void select_kernel() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (const auto* best = simdjson::get_available_implementations().detect_best_supported())
            simdjson::get_active_implementation() = best;
    });
}

// One parser per thread keeps its buffers from one document to the next.
dom::parser& thread_parser() {
    select_kernel();
    thread_local dom::parser parser;
    return parser;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string position(std::string_view text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const auto line = std::count(before.begin(), before.end(), '\n') + 1;
    const std::size_t line_start = before.rfind('\n') + 1;  // npos + 1 == 0
    return " at line " + std::to_string(line) + " column " + std::to_string(offset - line_start + 1);
}

// Offset of the closing quote of the string that opens at `i`, or text.size().
std::size_t string_end(std::string_view text, std::size_t i) {
    for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\') ++i;
    }
    return std::min(i, text.size());
}

// Offset just past the first complete value, or text.size() if none completes.
std::size_t end_of_first_value(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && is_space(text[i])) ++i;
    if (i == text.size()) return i;
    if (text[i] == '"') return std::min(string_end(text, i) + 1, text.size());
    if (text[i] != '{' && text[i] != '[') {
        while (i < text.size() && !is_space(text[i]) && std::string_view(",:[]{}\"").find(text[i]) == std::string_view::npos) {
            ++i;
        }
        return i;
    }
    int depth = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            i = string_end(text, i);
        } else if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth == 0) {
            return i + 1;
        }
    }
    return text.size();
}

// Offset of the closing quote of the k-th key of the top-level object.
std::size_t top_level_key_end(std::string_view text, std::size_t k) {
    int depth = 0;
    bool expect_key = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            i = string_end(text, i);
            if (depth == 1 && expect_key) {
                if (k-- == 0) return i;
                expect_key = false;
            }
        } else if (c == '{' || c == '[') {
            expect_key = ++depth == 1;
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ',' && depth == 1) {
            expect_key = true;
        }
    }
    return text.size();
}

// Whether all of `s` is one JSON number: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool is_json_number(std::string_view s) {
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t from = i;
        while (i < s.size() && is_digit(s[i])) ++i;
        return i - from;
    };
    if (i < s.size() && s[i] == '-') ++i;
    if (i < s.size() && s[i] == '0') {
        ++i;
    } else if (digits() == 0) {
        return false;
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        if (digits() == 0) return false;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (digits() == 0) return false;
    }
    return i == s.size();
}

struct Attempt {
    simdjson::error_code error = simdjson::SUCCESS;
    dom::element root;
    bool own_numbers = false;
    std::vector<double> numbers;   // every number of the text, in text order
    simdjson::padded_string patched;
};

// The parser refuses numbers beyond the double range or beyond 64-bit
// integers, and reads "-0" as the integer 0. Then every number is read here
// instead and replaced, in a copy, by "0" and blanks, so that positions stay.
// Rare enough to afford a copy.
void patch_numbers(std::string_view text, Attempt& a) {
    a.patched = simdjson::padded_string(text.data(), text.size());
    char* out = a.patched.data();
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            i = string_end(text, i);
            continue;
        }
        if (c != '-' && !is_digit(c)) continue;
        std::size_t j = i;
        while (j < text.size() && (is_digit(text[j]) || text[j] == '+' || text[j] == '-' || text[j] == '.' ||
                                   text[j] == 'e' || text[j] == 'E')) {
            ++j;
        }
        const std::string_view token = text.substr(i, j - i);
        if (is_json_number(token)) {
            a.numbers.push_back(read_decimal(token));
            out[i] = '0';
            std::memset(out + i + 1, ' ', token.size() - 1);
        }
        i = j - 1;
    }
}

// Whether the parser refused a number that patch_numbers can read. Later
// releases (Debian 13's) refuse integers beyond 64 bits with an error code of
// their own, which older ones (Debian 12's) do not have.
template <class Code>
bool number_refused(Code error) {
    if constexpr (requires { Code::BIGINT_ERROR; }) {
        return error == Code::NUMBER_ERROR || error == Code::BIGINT_ERROR;
    } else {
        return error == Code::NUMBER_ERROR;
    }
}

Attempt attempt(std::string_view text, bool padded, bool exact) {
    dom::parser& parser = thread_parser();
    Attempt a;
    // JSON text has no byte order mark. Older parsers refuse one, newer ones
    // skip it: refused here, with the older parsers' error, whatever the release.
    if (text.starts_with("\xEF\xBB\xBF")) {
        a.error = simdjson::TAPE_ERROR;
        return a;
    }
    if (!exact) {
        a.error = parser.parse(text.data(), text.size(), !padded).get(a.root);
        if (!number_refused(a.error)) return a;
    }
    patch_numbers(text, a);
    a.own_numbers = true;
    a.error = parser.parse(a.patched.data(), a.patched.size(), false).get(a.root);
    return a;
}

const char* type_name(dom::element e) {
    switch (e.type()) {
        case dom::element_type::OBJECT: return "map";
        case dom::element_type::ARRAY: return "sequence";
        case dom::element_type::STRING: return "string";
        case dom::element_type::BOOL: return "boolean";
        case dom::element_type::NULL_VALUE: return "null";
        default: return "number";
    }
}

class Reader {
public:
    Reader(std::string_view text, const Attempt& a) : text_(text), numbers_(a.own_numbers ? &a.numbers : nullptr) {}

    Result<CalendarJson> read(dom::element root) {
        dom::object top;
        if (root.get_object().get(top) != simdjson::SUCCESS) return type_error(root, "struct CalendarJson");
        CalendarJson doc;
        bool seen[3] = {false, false, false};
        std::size_t index = 0;
        for (const dom::key_value_pair member : top) {
            const auto field = std::find(std::begin(FIELD_NAMES), std::end(FIELD_NAMES), member.key) - FIELD_NAMES;
            if (field == 3) {
                skip(member.value);
            } else if (seen[field]) {
                return Error{messages::duplicate_field(FIELD_NAMES[field],
                                                       position(text_, top_level_key_end(text_, index)))};
            } else {
                seen[field] = true;
                if (field == 0 && !read_profiles(member.value, doc.time_weightings)) return std::move(error_);
                if (field == 1 && !read_weights(member.value, doc.day_weightings)) return std::move(error_);
                if (field == 2) {
                    std::string_view zone;
                    if (member.value.get_string().get(zone) != simdjson::SUCCESS) {
                        return type_error(member.value, "a string");
                    }
                    doc.iana_time_zone = zone;
                }
            }
            ++index;
        }
        for (int f = 0; f < 3; ++f) {
            if (!seen[f]) {
                const std::size_t last = text_.find_last_not_of(" \t\r\n");
                return Error{messages::missing_field(FIELD_NAMES[f], position(text_, last))};
            }
        }
        return doc;
    }

    // Whether an integer 0 was read, which might have been written "-0".
    bool read_integer_zero() const { return read_integer_zero_; }

private:
    static Error type_error(dom::element e, const char* expected) {
        return Error{messages::invalid_json_type(type_name(e), expected)};
    }

    bool number(dom::element e, double& out) {
        if (!e.is_number()) return false;
        if (numbers_ != nullptr) {
            out = (*numbers_)[next_++];
            return true;
        }
        if (e.get_double().get(out) != simdjson::SUCCESS) return false;  // integers round to nearest
        if (out == 0.0 && e.type() != dom::element_type::DOUBLE) read_integer_zero_ = true;
        return true;
    }

    // Skipped values still hold numbers that the own-number count must pass.
    void skip(dom::element e) {
        if (numbers_ == nullptr) return;
        dom::array array;
        dom::object object;
        if (e.is_number()) {
            ++next_;
        } else if (e.get_array().get(array) == simdjson::SUCCESS) {
            for (const dom::element x : array) skip(x);
        } else if (e.get_object().get(object) == simdjson::SUCCESS) {
            for (const dom::key_value_pair m : object) skip(m.value);
        }
    }

    // A JSON object read into (key, value) pairs in document order.
    template <class Value, class ReadValue>
    bool read_map(dom::element e, std::vector<std::pair<std::string, Value>>& out, ReadValue&& read_value) {
        dom::object obj;
        if (e.get_object().get(obj) != simdjson::SUCCESS) {
            error_ = type_error(e, "a map");
            return false;
        }
        out.reserve(obj.size());
        for (const dom::key_value_pair m : obj) {
            out.emplace_back(std::string(m.key), Value{});
            if (!read_value(m.value, out.back().second)) return false;
        }
        return true;
    }

    bool read_weights(dom::element e, std::vector<std::pair<std::string, double>>& out) {
        return read_map(e, out, [&](dom::element value, double& weight) {
            if (number(value, weight)) return true;
            error_ = type_error(value, "f64");
            return false;
        });
    }

    bool read_profiles(dom::element e, std::vector<std::pair<std::string, std::vector<std::pair<std::string, double>>>>& out) {
        return read_map(e, out, [&](dom::element value, std::vector<std::pair<std::string, double>>& weights) {
            return read_weights(value, weights);
        });
    }

    std::string_view text_;
    const std::vector<double>* numbers_;
    std::size_t next_ = 0;
    bool read_integer_zero_ = false;
    Error error_;
};

// `syntax` tells a text that is no JSON from a document that is the wrong shape.
Result<CalendarJson> read_text(std::string_view text, bool padded, simdjson::error_code& syntax) {
    Attempt a = attempt(text, padded, false);
    syntax = a.error;
    if (syntax != simdjson::SUCCESS) return Error{simdjson::error_message(syntax)};
    Reader reader(text, a);
    Result<CalendarJson> doc = reader.read(a.root);
    if (!doc || !reader.read_integer_zero() || text.find("-0") == std::string_view::npos) return doc;
    a = attempt(text, padded, true);
    syntax = a.error;
    if (syntax != simdjson::SUCCESS) return Error{simdjson::error_message(syntax)};
    return Reader(text, a).read(a.root);
}

Result<CalendarJson> parse(std::string_view text, bool padded) {
    simdjson::error_code syntax = simdjson::SUCCESS;
    Result<CalendarJson> doc = read_text(text, padded, syntax);
    if (syntax == simdjson::SUCCESS) return doc;

    // A complete document followed by more text reads as far as it goes and
    // then fails on what follows.
    const std::size_t end = end_of_first_value(text);
    std::size_t extra = end;
    while (extra < text.size() && is_space(text[extra])) ++extra;
    if (extra == text.size()) return doc;
    Result<CalendarJson> head = read_text(text.substr(0, end), false, syntax);
    if (!head) return head;
    return Error{messages::TRAILING_CHARACTERS + position(text, extra)};
}

}  // namespace

Result<CalendarJson> parse_calendar_json(std::string_view text) { return parse(text, false); }

// The compiled-in documents are followed by 64 zero bytes.
static_assert(simdjson::SIMDJSON_PADDING <= 64);

Result<CalendarJson> parse_calendar_json_padded(std::string_view text) { return parse(text, true); }

}  // namespace tessel::calendar
