#include "calendar/calendar.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>

#include "calendar/bucket.hpp"
#include "calendar/embedded_docs.hpp"
#include "calendar/zones.hpp"
#include "core/ascii.hpp"

namespace tessel::calendar {
namespace {

constexpr std::string_view kWeekdays[7] = {"monday", "tuesday", "wednesday", "thursday",
                                           "friday", "saturday", "sunday"};

int weekday_of_name(std::string_view key) {
    const std::string lower = ascii_lower(key);
    const auto it = std::find(std::begin(kWeekdays), std::end(kWeekdays), lower);
    return it == std::end(kWeekdays) ? -1 : static_cast<int>(it - std::begin(kWeekdays));
}

int weekday_index(const cctz::civil_day& day) {
    return static_cast<int>(cctz::get_weekday(day));  // Monday = 0
}

}  // namespace

Result<Calendar> Calendar::create(std::string_view underlying) {
    for (std::size_t i = 0; i < docs::document_count; ++i) {
        const docs::Document& d = docs::documents[i];
        if (underlying != d.underlying) continue;
        Result<CalendarJson> doc = parse_calendar_json_padded(std::string_view(d.text, d.size));
        if (!doc) return std::move(doc).error();
        Result<Calendar> cal = from_record(doc.value());
        if (cal) cal.value().underlying_ = d.underlying;
        return cal;
    }
    return Error{"No embedded calendar for underlying: " + std::string(underlying)};
}

Result<Calendar> Calendar::from_document(std::string_view json_text) {
    Result<CalendarJson> doc = parse_calendar_json(json_text);
    if (!doc) return std::move(doc).error();
    return from_record(doc.value());
}

Result<Calendar> Calendar::from_record(const CalendarJson& doc) {
    Result<cctz::time_zone> zone = load_zone(doc.iana_time_zone);
    if (!zone) return std::move(zone).error();
    Calendar cal;
    cal.zone_ = zone.value();

    // Entries apply in document order, so of two entries for one weekday the
    // later one stays.
    for (const auto& [key, day_weight] : doc.day_weightings) {
        const int weekday = weekday_of_name(key);
        if (weekday < 0) continue;
        // The profile sits under the very same key; of duplicates the last counts.
        const std::vector<std::pair<std::string, double>>* profile = nullptr;
        for (auto it = doc.time_weightings.rbegin(); it != doc.time_weightings.rend(); ++it) {
            if (it->first == key) {
                profile = &it->second;
                break;
            }
        }
        std::array<double, kBucketsPerDay> w;
        if (profile != nullptr) {
            w.fill(0.0);
            for (const auto& [bucket_key, weight] : *profile) {
                if (const auto b = bucket_of(bucket_key)) w[*b] = weight;
            }
        } else {
            w.fill(1.0);
        }
        double total = w[0];
        for (std::size_t j = 1; j < w.size(); ++j) total += w[j];

        std::array<double, 97>& curve = cal.day_curves_[weekday].emplace();
        curve[0] = 0.0;
        for (std::size_t k = 1; k < curve.size(); ++k) {
            // Divide first, then scale: the order fixes the rounding.
            const double s = total == 0.0 ? 0.0 : (w[k - 1] / total) * day_weight;
            curve[k] = curve[k - 1] + s;
        }
        cal.day_weights_[weekday] = day_weight;
    }
    cal.week_weight_ = cal.day_weights_[0];
    for (std::size_t d = 1; d < cal.day_weights_.size(); ++d) cal.week_weight_ += cal.day_weights_[d];
    return cal;
}

double Calendar::span_weight(std::int64_t days, int first_weekday) const {
    double h = static_cast<double>(days / 7) * week_weight_;
    for (std::int64_t i = 0; i < days % 7; ++i) h += day_weights_[(first_weekday + i) % 7];
    return h;
}

const Calendar::Year& Calendar::year_entry(std::int64_t year) {
    if (last_year_ < years_.size() && years_[last_year_].year == year) return years_[last_year_];
    auto it = std::lower_bound(years_.begin(), years_.end(), year,
                               [](const Year& y, std::int64_t v) { return y.year < v; });
    if (it == years_.end() || it->year != year) {
        // Local years stay far inside the 64-bit year range of the date
        // arithmetic, so the next 1 January always exists.
        const cctz::civil_day jan1(year, 1, 1);
        const int weekday = weekday_index(jan1);
        const std::int64_t days = cctz::civil_day(year + 1, 1, 1) - jan1;
        const double weight = span_weight(days, weekday);
        const std::int64_t first_day = jan1 - cctz::civil_day(1970, 1, 1);
        it = years_.insert(it, Year{year, weight, jan1, weekday, first_day, first_day + days});
    }
    last_year_ = static_cast<std::size_t>(it - years_.begin());
    return *it;
}

const Calendar::Year& Calendar::year_of_day(std::int64_t day) {
    if (last_year_ < years_.size()) {
        const Year& y = years_[last_year_];
        if (y.first_day <= day && day < y.end_day) return y;
    }
    return year_entry((cctz::civil_day(1970, 1, 1) + day).year());
}

// The offset in force at the instant `utc` (seconds since the epoch), from the
// span of the last lookup when that covers it: the instants of one pricing
// session seldom cross a change of offset, and a lookup costs more than the
// rest of bus_time.
std::int64_t Calendar::utc_offset(std::int64_t utc) {
    if (offset_span_.begin <= utc && utc < offset_span_.end) return offset_span_.offset;
    const cctz::time_point<cctz::seconds> tp{cctz::seconds(utc)};
    const auto found = zone_.lookup(tp);
    // The local wall clock is the UTC one moved by the offset.
    const std::int64_t offset = found.cs - (cctz::civil_second(1970, 1, 1, 0, 0, 0) + utc);
    // The changes around `utc`: the last one at or before it and the first
    // one after it bound the span. Past the zone's table of changes the
    // library does not promise those, so such instants are not cached; nor
    // is a span whose ends disagree with the offset.
    offset_span_ = OffsetSpan{0, 0, 0};
    cctz::time_zone::civil_transition before, after;
    if (utc == std::numeric_limits<std::int64_t>::max() || !zone_.prev_transition(tp + cctz::seconds(1), &before) ||
        !zone_.next_transition(tp, &after))
        return offset;
    const auto offset_at = [&](std::int64_t s) {
        return zone_.lookup(cctz::time_point<cctz::seconds>{cctz::seconds(s)}).cs -
               (cctz::civil_second(1970, 1, 1, 0, 0, 0) + s);
    };
    const std::int64_t begin = zone_.lookup(before.to).trans.time_since_epoch().count();
    const std::int64_t end = zone_.lookup(after.to).trans.time_since_epoch().count();
    if (begin <= utc && utc < end && offset_at(begin) == offset && offset_at(end - 1) == offset)
        offset_span_ = OffsetSpan{begin, end, offset};
    return offset;
}

double Calendar::bus_time(const Instant& t) {
    // Sub-second parts, leap nanoseconds included, do not move the wall clock.
    // The local wall clock is read as whole days and the second of the day.
    std::int64_t local;
    if (__builtin_add_overflow(t.seconds, utc_offset(t.seconds), &local))  // only at the ends of the int64 range
        local = t.seconds < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    // From the remainder, not local - day * 86400, which overflows at the ends.
    const std::int64_t rem = local % 86400;
    const std::int64_t day = local / 86400 - (rem < 0);
    const std::int64_t second_of_day = rem < 0 ? rem + 86400 : rem;
    const Year& year = year_of_day(day);
    const std::int64_t n = day - year.first_day;
    double p = span_weight(n, year.jan1_weekday);
    if (const auto& curve = day_curves_[(year.jan1_weekday + n) % 7]) {
        // floor(s / 900) and fmod(s, 900) of a whole number of seconds, exactly.
        const auto k = std::min(static_cast<std::size_t>(second_of_day / 900), std::size_t{95});
        const double f = static_cast<double>(second_of_day % 900) / 900.0;
        p = p + (((*curve)[k + 1] - (*curve)[k]) * f + (*curve)[k]);
    }
    return static_cast<double>(year.year) + p / year.weight;
}

double Calendar::get_bus_ttx(const Instant& from, const Instant& to) {
    const double end = bus_time(to);
    const double start = bus_time(from);
    return end - start;
}

double Calendar::get_cal_ttx(const Instant& from, const Instant& to) {
    constexpr std::int64_t kNanos = 1'000'000'000;
    // 128 bits hold any difference of two instants in nanoseconds.
    const __int128 span = (static_cast<__int128>(to.seconds) - from.seconds) * kNanos +
                          (static_cast<std::int64_t>(to.nanos) - static_cast<std::int64_t>(from.nanos));
    return static_cast<double>(span / kNanos) / 31536000.0;
}

}  // namespace tessel::calendar
