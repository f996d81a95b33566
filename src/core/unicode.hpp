#pragma once
// Full Unicode lower-casing of UTF-8 text, as str.lower() does it: the
// unconditional special casings and the final-sigma rule included.
#include <string>
#include <string_view>

namespace tessel {

// `text` must be valid UTF-8.
std::string to_lower_full(std::string_view text);

}  // namespace tessel
