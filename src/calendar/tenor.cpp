#include "calendar/tenor.hpp"

#include <algorithm>
#include <limits>
#include <string>

#include "calendar/decimal.hpp"
#include "core/ascii.hpp"
#include "core/messages.hpp"

namespace tessel::calendar {
namespace {


bool equals_ignoring_case(std::string_view s, std::string_view lower) {
    return s.size() == lower.size() &&
           std::equal(s.begin(), s.end(), lower.begin(), [](char a, char b) { return ascii_lower(a) == b; });
}

// digits ["." digits] with at least one digit in all, then [eE [+-] digits].
bool is_decimal(std::string_view s) {
    std::size_t i = 0;
    std::size_t mantissa_digits = 0;
    for (; i < s.size() && is_digit(s[i]); ++i) ++mantissa_digits;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && is_digit(s[i]); ++i) ++mantissa_digits;
    }
    if (mantissa_digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t first = i;
        while (i < s.size() && is_digit(s[i])) ++i;
        if (i == first) return false;
    }
    return i == s.size();
}

// NaN is a valid reading, so success is reported apart from the value.
bool read_number(std::string_view text, double& out) {
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (equals_ignoring_case(body, "inf") || equals_ignoring_case(body, "infinity")) {
        out = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
        return true;
    }
    if (equals_ignoring_case(body, "nan")) {
        out = negative ? -std::numeric_limits<double>::quiet_NaN() : std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (!is_decimal(body)) return false;
    out = read_decimal(text);
    return true;
}

}  // namespace

Result<double> tenor_to_ttx(std::string_view tenor) {
    if (tenor.empty() || std::string_view("dwmy").find(tenor.back()) == std::string_view::npos)
        return Error{messages::invalid_tenor(tenor)};
    const char unit = tenor.back();
    const std::string_view number = tenor.substr(0, tenor.size() - 1);
    if (number.empty()) return Error{messages::EMPTY_FLOAT};
    double x = 0.0;
    if (!read_number(number, x)) return Error{messages::INVALID_FLOAT};
    switch (unit) {
        case 'd': return x / 365.0;
        case 'w': return (x * 7.0) / 365.0;
        case 'm': return (x * 30.0) / 365.0;
        default: return x;
    }
}

}  // namespace tessel::calendar
