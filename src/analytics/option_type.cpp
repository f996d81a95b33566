#include "analytics/option_type.hpp"

#include <cstddef>
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

Error unknown(std::string_view lower) {
    std::string msg = "Unknown option type: '";
    msg.append(lower);
    msg.append("'. Use 'call'/'c' or 'put'/'p'.");
    return Error{std::move(msg)};
}

}  // namespace

Result<OptionType> parse_option_type(std::string_view text) {
    // Every accepted text is short ASCII once lower-cased; such input is
    // lower-cased on the stack. Anything else goes through the full mapping,
    // which the message needs anyway.
    constexpr std::size_t kLongest = 4;
    if (text.size() <= kLongest) {
        char buf[kLongest];
        bool ascii = true;
        for (std::size_t i = 0; i < text.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(text[i]);
            if (b >= 0x80) {
                ascii = false;
                break;
            }
            buf[i] = static_cast<char>(b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b);
        }
        if (ascii) {
            const std::string_view lower(buf, text.size());
            if (const auto type = match(lower)) return *type;
            return unknown(lower);
        }
    }
    const std::string lower = to_lower_full(text);
    if (const auto type = match(lower)) return *type;
    return unknown(lower);
}

}  // namespace tessel::analytics
