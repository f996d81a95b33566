#pragma once
// A callable's Python signature, declared once as its own text,
//     "b76_fairvalue(fwd, strike, ttx, vol, call_put, df=1.0)"
// and read at compile time into what argument matching needs (names,
// defaults, the dict of unmatched keywords) and into the text signature the
// interpreter shows ("...)\n--\n\n"). A parameter is "name", "name=<decimal>"
// (optional) or "**name" (collects unmatched keywords; last).
#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

#include "core/ascii.hpp"

namespace tessel::py {

inline constexpr std::size_t MAX_PARAMS = 8;

// A declaration as a template argument.
template <std::size_t N>
struct Decl {
    char text[N]{};
    consteval Decl(const char (&s)[N]) { std::copy_n(s, N, text); }
};

struct Param {
    std::size_t offset = 0;  // of the NUL-terminated name in Signature::names
    bool optional = false;
    bool collects = false;
    double default_value = 0.0;
};

struct Signature {
    std::array<char, 160> names{};  // the callable's name, then each parameter's
    std::array<Param, MAX_PARAMS> params{};
    std::size_t count = 0;       // every parameter
    std::size_t positional = 0;  // all but a collecting one
    std::size_t required = 0;    // the leading ones without a default
    bool collects = false;

    constexpr const char* name() const { return names.data(); }
    constexpr const char* param_name(std::size_t i) const { return names.data() + params[i].offset; }
};

namespace detail {

// A default as declared, "1.0": digits with at most one point.
constexpr double parse_default(std::string_view s) {
    double whole = 0.0, scale = 1.0;
    bool point = false, digits = false;
    for (char c : s) {
        if (c == '.' && !point) {
            point = true;
        } else if (is_digit(c)) {
            whole = whole * 10.0 + (c - '0');
            if (point) scale *= 10.0;
            digits = true;
        } else {
            throw "a default must be a plain decimal";
        }
    }
    if (!digits) throw "a default must be a plain decimal";
    return whole / scale;  // exact integers: the quotient is correctly rounded
}

}  // namespace detail

constexpr Signature parse_signature(std::string_view decl) {
    Signature sig;
    std::size_t used = 0;
    const auto store = [&](std::string_view name) {
        if (name.empty() || used + name.size() + 1 > sig.names.size()) throw "bad or too long a name";
        const std::size_t at = used;
        for (char c : name) sig.names[used++] = c;
        sig.names[used++] = '\0';
        return at;
    };
    const std::size_t open = decl.find('(');
    if (open == std::string_view::npos || decl.back() != ')') throw "a declaration is name(params)";
    store(decl.substr(0, open));
    std::string_view rest = decl.substr(open + 1, decl.size() - open - 2);
    while (!rest.empty()) {
        const std::size_t comma = rest.find(", ");
        std::string_view item = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 2);
        if (sig.count == MAX_PARAMS || sig.collects) throw "too many parameters, or one after **";
        Param& p = sig.params[sig.count++];
        if (item.starts_with("**")) {
            p.collects = sig.collects = true;
            item.remove_prefix(2);
        } else if (const std::size_t eq = item.find('='); eq != std::string_view::npos) {
            p.optional = true;
            p.default_value = detail::parse_default(item.substr(eq + 1));
            item = item.substr(0, eq);
        } else if (sig.required != sig.positional) {
            throw "a required parameter after an optional one";
        } else {
            ++sig.required;
        }
        if (!p.collects) ++sig.positional;
        p.offset = store(item);
    }
    return sig;
}

// Parsing works on a copy of the declaration: GCC's sanitizer builds cannot
// evaluate pointers into a template argument object at compile time.
template <Decl D>
inline constexpr Signature signature_of = [] {
    const auto text = std::to_array(D.text);
    return parse_signature({text.data(), text.size() - 1});
}();

struct OwnName {
    static constexpr const char* name = nullptr;
};

namespace detail {

// "<name>", "(", "<$self, >", "<parameters as declared>)", "\n--\n\n".
constexpr std::array<std::string_view, 5> text_signature_parts(std::string_view decl, bool self, const char* name) {
    const std::size_t open = decl.find('(');
    return {name == nullptr ? decl.substr(0, open) : std::string_view(name), "(",
            !self ? "" : decl[open + 1] == ')' ? "$self" : "$self, ", decl.substr(open + 1), "\n--\n\n"};
}

template <Decl D, bool Self, class Named>
constexpr std::size_t text_signature_size() {
    const auto text = std::to_array(D.text);
    std::size_t size = 1;  // the terminating NUL
    for (std::string_view part : text_signature_parts({text.data(), text.size() - 1}, Self, Named::name))
        size += part.size();
    return size;
}

}  // namespace detail

// The docstring that carries a callable's text signature, with the name
// replaced by Named::name when there is one (a class's docstring shows its
// constructor so).
template <Decl D, bool Self, class Named = OwnName>
inline constexpr auto text_signature = [] {
    const auto text = std::to_array(D.text);
    std::array<char, detail::text_signature_size<D, Self, Named>()> out{};
    char* at = out.data();
    for (std::string_view part : detail::text_signature_parts({text.data(), text.size() - 1}, Self, Named::name))
        at = std::copy(part.begin(), part.end(), at);
    return out;
}();

}  // namespace tessel::py
