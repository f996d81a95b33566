#include "analytics/option_type.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/unicode.hpp"

namespace tessel::analytics {
namespace {

std::optional<OptionType> match(std::string_view lower) {
    if (lower == "c" || lower == "call") return OptionType::Call;
    if (lower == "p" || lower == "put") return OptionType::Put;
    return std::nullopt;
}

// Up to four bytes and their count in one integer, first byte lowest.
constexpr std::uint64_t packed(std::string_view s) {
    std::uint64_t w = static_cast<std::uint64_t>(s.size()) << 32;
    for (std::size_t i = 0; i < s.size(); ++i)
        w |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[i])) << (8 * i);
    return w;
}

Error unknown(std::string_view lower) {
    std::string msg = "Unknown option type: '";
    msg.append(lower);
    msg.append("'. Use 'call'/'c' or 'put'/'p'.");
    return Error{std::move(msg)};
}

}  // namespace

Result<OptionType> parse_option_type(std::string_view text) {
    // Every accepted text is short ASCII once lower-cased. Such input is
    // lower-cased into one register word and matched whole: bytes stored one
    // by one and read back as a word would stall the load on every call.
    constexpr std::size_t kLongest = 4;
    if (text.size() <= kLongest) {
        std::uint64_t word = static_cast<std::uint64_t>(text.size()) << 32;
        bool ascii = true;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(text[i]);
            if (b >= 0x80) {
                ascii = false;
                break;
            }
            const unsigned char lower = b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b;
            word |= static_cast<std::uint64_t>(lower) << (8 * i);
        }
        if (ascii) {
            switch (word) {
                case packed("c"):
                case packed("call"):
                    return OptionType::Call;
                case packed("p"):
                case packed("put"):
                    return OptionType::Put;
                default: {
                    char buf[kLongest];
                    for (std::size_t i = 0; i < text.size(); ++i) buf[i] = static_cast<char>(word >> (8 * i));
                    return unknown(std::string_view(buf, text.size()));
                }
            }
        }
    }
    const std::string lower = to_lower_full(text);
    if (const auto type = match(lower)) return *type;
    return unknown(lower);
}

}  // namespace tessel::analytics
