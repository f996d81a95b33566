// bucket_of against a plain reading of the key rules: the start time is the
// text before the first "-", trimmed of Unicode White_Space, split at ":",
// each field an optional "+" and ASCII digits (anything else, or a value past
// 64 bits, reads as 0), minute of day = hours * 60 + minutes in wrapping
// 64-bit arithmetic, skipped at or past 24:00, else bucket = minute / 15.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "calendar/bucket.hpp"

namespace {

// Every White_Space code point, UTF-8 encoded.
constexpr std::string_view SPACES[] = {
    "\t", "\n", "\v", "\f", "\r", " ", "\xC2\x85", "\xC2\xA0", "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86", "\xE2\x80\x87", "\xE2\x80\x88",
    "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8", "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80",
};

bool strip_front(std::string_view& s) {
    for (std::string_view w : SPACES) {
        if (s.substr(0, w.size()) == w) {
            s.remove_prefix(w.size());
            return true;
        }
    }
    return false;
}

bool strip_back(std::string_view& s) {
    for (std::string_view w : SPACES) {
        if (s.size() >= w.size() && s.substr(s.size() - w.size()) == w) {
            s.remove_suffix(w.size());
            return true;
        }
    }
    return false;
}

std::uint64_t field(std::string_view f) {
    if (!f.empty() && f[0] == '+') f.remove_prefix(1);
    if (f.empty() || f.find_first_not_of("0123456789") != std::string_view::npos) return 0;
    unsigned __int128 v = 0;
    for (char c : f) {
        v = v * 10 + static_cast<unsigned>(c - '0');
        if (v > UINT64_MAX) return 0;
    }
    return static_cast<std::uint64_t>(v);
}

std::optional<unsigned> reference(std::string_view key) {
    std::string_view start = key.substr(0, key.find('-'));
    while (strip_front(start)) {
    }
    while (strip_back(start)) {
    }
    const std::size_t colon = start.find(':');
    const std::uint64_t hours = field(start.substr(0, colon));
    std::uint64_t minutes = 0;
    if (colon != std::string_view::npos) {
        const std::string_view rest = start.substr(colon + 1);
        minutes = field(rest.substr(0, rest.find(':')));
    }
    const std::uint64_t minute_of_day = hours * 60 + minutes;
    if (minute_of_day >= 1440) return std::nullopt;
    return static_cast<unsigned>(minute_of_day / 15);
}

[[noreturn]] void fail(std::string_view key, std::optional<unsigned> got, std::optional<unsigned> want) {
    std::fprintf(stderr, "bucket_of(\"%s\") = %d, expected %d\n", std::string(key).c_str(), got ? int(*got) : -1,
                 want ? int(*want) : -1);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view key(reinterpret_cast<const char*>(data), size);
    const std::optional<unsigned> got = tessel::calendar::bucket_of(key);
    const std::optional<unsigned> want = reference(key);
    if (got != want || (got && *got >= tessel::calendar::BUCKETS_PER_DAY)) fail(key, got, want);
    return 0;
}
