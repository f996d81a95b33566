#pragma once
// ASCII character classes and case-folding. Every word the module accepts in any letter case (option
// types, weekday names) is ASCII, and the one non-ASCII character whose full
// Unicode lower case is ASCII, U+212A KELVIN SIGN ("k"), is in none of them:
// folding ASCII letters alone accepts exactly what full lower-casing would.
#include <string>
#include <string_view>

namespace tessel {

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

inline std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = ascii_lower(c);
    return out;
}

constexpr bool is_ascii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace tessel
