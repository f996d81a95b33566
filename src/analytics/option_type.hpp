#pragma once
// The option type the analytics take, and its reading from text.
#include <optional>
#include <string_view>

namespace tessel::analytics {

enum class OptionType { Call, Put };

// "call"/"c" or "put"/"p" in any letter case (ASCII folding decides as full
// lower-casing would, core/ascii.hpp); nothing is trimmed.
std::optional<OptionType> parse_option_type(std::string_view text);

}  // namespace tessel::analytics
