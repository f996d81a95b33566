#include "calendar/bucket.hpp"

#include <cstdint>
#include <limits>

namespace tessel::calendar {
namespace {

using u8 = unsigned char;

// Byte length of the Unicode White_Space character at the start of `s`, or 0.
std::size_t space_prefix(std::string_view s) {
    if (s.empty()) return 0;
    const u8 b0 = static_cast<u8>(s[0]);
    if ((b0 >= 0x09 && b0 <= 0x0D) || b0 == 0x20) return 1;
    if (s.size() >= 2 && b0 == 0xC2) {
        const u8 b1 = static_cast<u8>(s[1]);
        return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;  // U+0085, U+00A0
    }
    if (s.size() < 3) return 0;
    const u8 b1 = static_cast<u8>(s[1]);
    const u8 b2 = static_cast<u8>(s[2]);
    switch (b0) {
        case 0xE1:  // U+1680
            return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
        case 0xE2:
            if (b1 == 0x80) {  // U+2000..U+200A, U+2028, U+2029, U+202F
                return ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
            }
            return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;  // U+205F
        case 0xE3:  // U+3000
            return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
        default:
            return 0;
    }
}

// Byte length of the White_Space character at the end of `s`, or 0. Lead
// bytes never occur as continuation bytes, so matching the tail suffices.
std::size_t space_suffix(std::string_view s) {
    if (s.empty()) return 0;
    const u8 last = static_cast<u8>(s.back());
    if (last < 0x80) return ((last >= 0x09 && last <= 0x0D) || last == 0x20) ? 1 : 0;
    if (s.size() >= 2 && space_prefix(s.substr(s.size() - 2)) == 2) return 2;
    if (s.size() >= 3 && space_prefix(s.substr(s.size() - 3)) == 3) return 3;
    return 0;
}

// An optional "+" and one or more ASCII digits, else 0; 0 also on overflow.
std::uint64_t read_field(std::string_view f) {
    if (!f.empty() && f.front() == '+') f.remove_prefix(1);
    if (f.empty()) return 0;
    std::uint64_t v = 0;
    for (const char c : f) {
        if (c < '0' || c > '9') return 0;
        const auto d = static_cast<std::uint64_t>(c - '0');
        if (v > (std::numeric_limits<std::uint64_t>::max() - d) / 10) return 0;
        v = v * 10 + d;
    }
    return v;
}

// The form every stored key has, "HH:MM - HH:MM", read without the general
// machinery; the result is the same.
bool canonical_start(std::string_view key, std::uint64_t& minute_of_day) {
    const auto digit = [&](std::size_t i) { return key[i] >= '0' && key[i] <= '9'; };
    if (key.size() < 5 || !digit(0) || !digit(1) || key[2] != ':' || !digit(3) || !digit(4)) return false;
    if (key.size() > 5 && key[5] != '-' && !(key[5] == ' ' && key.size() > 6 && key[6] == '-')) return false;
    minute_of_day = static_cast<std::uint64_t>((key[0] - '0') * 600 + (key[1] - '0') * 60 + (key[3] - '0') * 10 +
                                               (key[4] - '0'));
    return true;
}

}  // namespace

std::optional<unsigned> bucket_of(std::string_view key) {
    std::uint64_t minute_of_day = 0;
    if (canonical_start(key, minute_of_day)) {
        if (minute_of_day >= 24 * 60) return std::nullopt;
        return static_cast<unsigned>(minute_of_day / 15);
    }
    std::string_view start = key.substr(0, key.find('-'));
    while (const std::size_t n = space_prefix(start)) start.remove_prefix(n);
    while (const std::size_t n = space_suffix(start)) start.remove_suffix(n);

    const std::size_t colon = start.find(':');
    const std::string_view hours = start.substr(0, colon);
    std::string_view minutes;
    if (colon != std::string_view::npos) {
        minutes = start.substr(colon + 1);
        minutes = minutes.substr(0, minutes.find(':'));
    }
    // Wrapping unsigned arithmetic, as the key format defines it.
    minute_of_day = read_field(hours) * 60 + read_field(minutes);
    if (minute_of_day >= 24 * 60) return std::nullopt;
    return static_cast<unsigned>(minute_of_day / 15);
}

}  // namespace tessel::calendar
