// The calendar document reader and the calendar built from what it reads.
// Checks: the copying and the padded readers agree; a document that reads
// builds a calendar whose weekdays, day weights and week weight follow the
// record; every day table starts at 0 and, for non-negative weights, never
// decreases and ends at most at its day weight; business time is
// antisymmetric, and 0 between an instant and itself when the week weighs
// something.
#include <simdjson.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "calendar/calendar.hpp"
#include "calendar/calendar_json.hpp"

namespace {

namespace cal = tessel::calendar;

constexpr std::string_view WEEKDAYS[7] = {"monday", "tuesday", "wednesday", "thursday",
                                           "friday", "saturday", "sunday"};

// Only ASCII letters lower-case to the letters of a weekday name (the one
// other code point that lower-cases to ASCII, KELVIN SIGN, gives "k").
int weekday_of(std::string_view key) {
    std::string lower(key);
    for (char& c : lower) {
        if (static_cast<unsigned char>(c) >= 0x80) return -1;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (int d = 0; d < 7; ++d) {
        if (lower == WEEKDAYS[d]) return d;
    }
    return -1;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool same(const cal::CalendarJson& a, const cal::CalendarJson& b) {
    const auto same_weights = [](const auto& x, const auto& y) {
        if (x.size() != y.size()) return false;
        for (std::size_t i = 0; i < x.size(); ++i) {
            if (x[i].first != y[i].first || !same_bits(x[i].second, y[i].second)) return false;
        }
        return true;
    };
    if (a.iana_time_zone != b.iana_time_zone || !same_weights(a.day_weightings, b.day_weightings) ||
        a.time_weightings.size() != b.time_weightings.size())
        return false;
    for (std::size_t i = 0; i < a.time_weightings.size(); ++i) {
        if (a.time_weightings[i].first != b.time_weightings[i].first ||
            !same_weights(a.time_weightings[i].second, b.time_weightings[i].second))
            return false;
    }
    return true;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "calendar document: %s\n", what);
    std::abort();
}

void check_calendar(const cal::CalendarJson& doc, cal::Calendar& c) {
    bool non_negative = true;
    for (const auto& [key, w] : doc.day_weightings) non_negative &= w >= 0.0 && std::isfinite(w);
    for (const auto& [day, profile] : doc.time_weightings) {
        for (const auto& [key, w] : profile) non_negative &= w >= 0.0 && std::isfinite(w);
    }
    double expected[7] = {0, 0, 0, 0, 0, 0, 0};
    bool named[7] = {false, false, false, false, false, false, false};
    for (const auto& [key, w] : doc.day_weightings) {
        const int d = weekday_of(key);
        if (d >= 0) {
            named[d] = true;
            expected[d] = w;  // the later entry wins
        }
    }
    double week = 0.0;
    for (int d = 0; d < 7; ++d) {
        week = d == 0 ? c.day_weight(0) : week + c.day_weight(d);
        const auto& curve = c.day_curve(d);
        if (curve.has_value() != named[d]) fail("a weekday's table does not follow its day weight");
        if (!same_bits(c.day_weight(d), expected[d])) fail("wrong day weight");
        if (!curve) continue;
        static_assert(std::tuple_size_v<std::remove_reference_t<decltype(*curve)>> == 97);
        if ((*curve)[0] != 0.0) fail("a day table does not start at 0");
        if (!non_negative) continue;
        for (std::size_t k = 1; k < curve->size(); ++k) {
            if (!((*curve)[k] >= (*curve)[k - 1])) fail("a day table decreases for non-negative weights");
        }
        if (!((*curve)[96] <= expected[d] * (1 + 1e-12) + 1e-300)) fail("a day table ends above its day weight");
    }
    if (!same_bits(c.week_weight(), week)) fail("the week weight is not the sum of the day weights");

    const bool weighted = non_negative && c.week_weight() > 0.0 && std::isfinite(c.week_weight());
    // A few instants around a year end and a daylight-saving change.
    const tessel::Instant ts[] = {{1735689600, 0}, {1735689599, 999'999'999}, {1741503600, 0}, {-86400 * 400, 5}};
    for (const auto& a : ts) {
        // A year of zero weight divides by zero; that NaN is the documented result.
        const double aa = c.get_bus_ttx(a, a);
        if (!(aa == 0.0 || (!weighted && std::isnan(aa)))) fail("business time between an instant and itself is not 0");
        for (const auto& b : ts) {
            const double ab = c.get_bus_ttx(a, b), ba = c.get_bus_ttx(b, a);
            if (!(ab == -ba || (std::isnan(ab) && std::isnan(ba)))) fail("business time is not antisymmetric");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const tessel::Result<cal::CalendarJson> doc = cal::parse_calendar_json(text);

    std::string padded(text);
    padded.append(simdjson::SIMDJSON_PADDING, '\0');
    const tessel::Result<cal::CalendarJson> doc_padded = cal::parse_calendar_json_padded(std::string_view(padded.data(), size));
    if (doc.ok() != doc_padded.ok()) fail("the padded reader disagrees on success");
    if (!doc) {
        if (doc.error().message != doc_padded.error().message) fail("the padded reader disagrees on the error");
        if (doc.error().message.empty()) fail("an error without a message");
        return 0;
    }
    if (!same(doc.value(), doc_padded.value())) fail("the padded reader disagrees on the record");

    tessel::Result<cal::Calendar> c = cal::Calendar::from_document(text);
    if (!c) {
        if (c.error().message != "Invalid IANA timezone: " + doc.value().iana_time_zone) fail("unexpected error");
        return 0;
    }
    check_calendar(doc.value(), c.value());
    return 0;
}
