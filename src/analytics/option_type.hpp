#pragma once
// The option-type text taken by the analytics ("call"/"c", "put"/"p").
#include <string_view>
#include <utility>

#include "core/result.hpp"

namespace tessel::analytics {

enum class OptionType { Call, Put };

// Case-insensitive under full Unicode lower-casing; nothing is trimmed.
Result<OptionType> parse_option_type(std::string_view text);

// Parses `call_put` and hands the type to `fn`: every text entry point checks
// its text before any arithmetic, so a bad text fails even under a guard.
template <class Fn>
Result<double> with_option_type(std::string_view call_put, Fn&& fn) {
    Result<OptionType> cp = parse_option_type(call_put);
    if (!cp) return std::move(cp).error();
    return std::forward<Fn>(fn)(cp.value());
}

}  // namespace tessel::analytics
