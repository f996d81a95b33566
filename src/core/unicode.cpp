#include "core/unicode.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>

namespace tessel {
namespace {

struct LowerRange {
    std::uint32_t first, last;
    std::uint32_t stride;
    std::int32_t delta;
};

struct LowerSpecial {
    std::uint32_t cp;
    char utf8[8];
    std::uint8_t size;
};

enum : std::uint8_t { kIgnorable = 1, kCased = 2 };

struct SigmaClassRange {
    std::uint32_t first, last;
    std::uint8_t cls;
};

#include "core/unicode_tables.inc"

constexpr std::uint32_t kCapitalSigma = 0x3A3;
constexpr std::uint32_t kSmallSigma = 0x3C3;
constexpr std::uint32_t kFinalSigma = 0x3C2;

// The run whose first code point is the greatest one not above cp.
template <class T, std::size_t N>
const T* find_run(const T (&table)[N], std::uint32_t cp) {
    const T* it = std::upper_bound(std::begin(table), std::end(table), cp,
                                   [](std::uint32_t c, const T& r) { return c < r.first; });
    if (it == std::begin(table)) return nullptr;
    --it;
    return cp <= it->last ? it : nullptr;
}

std::uint8_t sigma_class(std::uint32_t cp) {
    const SigmaClassRange* r = find_run(kSigmaClasses, cp);
    return r ? r->cls : 0;
}

// Input is valid UTF-8, so lead bytes tell the length and nothing is checked.
std::uint32_t decode(std::string_view s, std::size_t i, std::size_t& len) {
    const auto b = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(s[i + k])); };
    const std::uint32_t b0 = b(0);
    if (b0 < 0x80) {
        len = 1;
        return b0;
    }
    if (b0 < 0xE0) {
        len = 2;
        return ((b0 & 0x1F) << 6) | (b(1) & 0x3F);
    }
    if (b0 < 0xF0) {
        len = 3;
        return ((b0 & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    }
    len = 4;
    return ((b0 & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
}

// Start of the character that ends just before byte i (i > 0).
std::size_t previous_start(std::string_view s, std::size_t i) {
    do {
        --i;
    } while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80);
    return i;
}

void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        const char buf[2] = {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(buf, 2);
    } else if (cp < 0x10000) {
        const char buf[3] = {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                             static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(buf, 3);
    } else {
        const char buf[4] = {static_cast<char>(0xF0 | (cp >> 18)), static_cast<char>(0x80 | ((cp >> 12) & 0x3F)),
                             static_cast<char>(0x80 | ((cp >> 6) & 0x3F)), static_cast<char>(0x80 | (cp & 0x3F))};
        out.append(buf, 4);
    }
}

// Final_Sigma: a cased letter before the sigma and none after it, skipping
// case-ignorable characters on both sides. Decided on the original text.
bool is_final_sigma(std::string_view s, std::size_t start, std::size_t end) {
    bool cased_before = false;
    for (std::size_t i = start; i > 0;) {
        i = previous_start(s, i);
        std::size_t len;
        const std::uint8_t cls = sigma_class(decode(s, i, len));
        if (cls != kIgnorable) {
            cased_before = cls == kCased;
            break;
        }
    }
    if (!cased_before) return false;
    for (std::size_t i = end; i < s.size();) {
        std::size_t len;
        const std::uint8_t cls = sigma_class(decode(s, i, len));
        if (cls != kIgnorable) return cls != kCased;
        i += len;
    }
    return true;
}

void append_lower(std::string& out, std::uint32_t cp) {
    if (const LowerRange* r = find_run(kLowerRanges, cp); r && (cp - r->first) % r->stride == 0) {
        append_utf8(out, static_cast<std::uint32_t>(static_cast<std::int32_t>(cp) + r->delta));
        return;
    }
    for (const LowerSpecial& sp : kLowerSpecials) {
        if (sp.cp == cp) {
            out.append(sp.utf8, sp.size);
            return;
        }
    }
    append_utf8(out, cp);
}

}  // namespace

std::string to_lower_full(std::string_view text) {
    std::string out;
    // Lower case is rarely longer than the text; the specials may grow it.
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out.push_back(static_cast<char>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b));
            ++i;
            continue;
        }
        std::size_t len;
        const std::uint32_t cp = decode(text, i, len);
        if (cp == kCapitalSigma) {
            append_utf8(out, is_final_sigma(text, i, i + len) ? kFinalSigma : kSmallSigma);
        } else {
            append_lower(out, cp);
        }
        i += len;
    }
    return out;
}

}  // namespace tessel
