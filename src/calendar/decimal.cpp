#include "calendar/decimal.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <limits>

#include "core/ascii.hpp"

namespace tessel::calendar {
namespace {

constexpr std::int64_t CLAMP = 1'000'000'000'000'000;  // far beyond any double's range


// Power of ten of the leading nonzero digit; only called for nonzero values
// that the conversion found out of range, so its sign tells overflow from
// underflow.
std::int64_t leading_power(std::string_view s) {
    std::size_t i = 0;
    std::int64_t power = 0;
    bool found = false;
    for (; i < s.size() && is_digit(s[i]); ++i) {
        if (found) {
            power = std::min(power + 1, CLAMP);
        } else if (s[i] != '0') {
            found = true;
        }
    }
    if (i < s.size() && s[i] == '.') ++i;
    for (std::int64_t place = -1; i < s.size() && is_digit(s[i]); ++i, place = std::max(place - 1, -CLAMP)) {
        if (!found && s[i] != '0') {
            found = true;
            power = place;
        }
    }
    std::int64_t exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negative = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
        for (; i < s.size(); ++i) exponent = std::min(exponent * 10 + (s[i] - '0'), CLAMP);
        if (negative) exponent = -exponent;
    }
    return power + exponent;
}

}  // namespace

double read_decimal(std::string_view literal) {
    bool negative = false;
    if (!literal.empty() && (literal[0] == '+' || literal[0] == '-')) {
        negative = literal[0] == '-';
        literal.remove_prefix(1);
    }
    double value = 0.0;
    const auto [ptr, ec] = std::from_chars(literal.data(), literal.data() + literal.size(), value,
                                           std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // The value is left untouched then; the magnitude alone decides.
        value = leading_power(literal) >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
    } else if (ec != std::errc() || ptr != literal.data() + literal.size()) {
        return std::numeric_limits<double>::quiet_NaN();  // grammar not checked by the caller
    }
    return negative ? -value : value;
}

}  // namespace tessel::calendar
