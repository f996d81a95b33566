#include "analytics/option_type.hpp"

#include <cstddef>
#include <cstdint>

#include "core/ascii.hpp"

namespace tessel::analytics {
namespace {

// Up to four bytes and their count in one integer, first byte lowest.
constexpr std::uint64_t packed(std::string_view s) {
    std::uint64_t w = static_cast<std::uint64_t>(s.size()) << 32;
    for (std::size_t i = 0; i < s.size(); ++i)
        w |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[i])) << (8 * i);
    return w;
}

}  // namespace

std::optional<OptionType> parse_option_type(std::string_view text) {
    // Every accepted word has at most four letters. The folded text is built
    // in one register word and matched whole: bytes stored one by one and
    // read back as a word would stall the load on every call.
    if (text.size() > 4) return std::nullopt;
    std::uint64_t word = static_cast<std::uint64_t>(text.size()) << 32;
    for (std::size_t i = 0; i < text.size(); ++i)
        word |= static_cast<std::uint64_t>(static_cast<unsigned char>(ascii_lower(text[i]))) << (8 * i);
    switch (word) {
        case packed("c"):
        case packed("call"):
            return OptionType::Call;
        case packed("p"):
        case packed("put"):
            return OptionType::Put;
        default:
            return std::nullopt;
    }
}

}  // namespace tessel::analytics
