#include "calendar/calendar.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "calendar/bucket.hpp"
#include "calendar/embedded_docs.hpp"
#include "calendar/zones.hpp"
#include "core/ascii.hpp"
#include "core/messages.hpp"

namespace tessel::calendar {
namespace {

constexpr std::string_view WEEKDAYS[7] = {"monday", "tuesday", "wednesday", "thursday",
                                           "friday", "saturday", "sunday"};

int weekday_of_name(std::string_view key) {
    const std::string lower = ascii_lower(key);
    const auto it = std::find(std::begin(WEEKDAYS), std::end(WEEKDAYS), lower);
    return it == std::end(WEEKDAYS) ? -1 : static_cast<int>(it - std::begin(WEEKDAYS));
}

int weekday_index(const cctz::civil_day& day) {
    return static_cast<int>(cctz::get_weekday(day));  // Monday = 0
}

}  // namespace

Result<Calendar> Calendar::create(std::string_view underlying) {
    for (std::size_t i = 0; i < embedded::document_count; ++i) {
        const embedded::Document& d = embedded::documents[i];
        if (underlying != d.underlying) continue;
        Result<CalendarJson> doc = parse_calendar_json_padded(std::string_view(d.text, d.size));
        if (!doc) return std::move(doc).error();
        Result<Calendar> cal = from_record(doc.value());
        if (cal) cal.value().underlying_ = d.underlying;
        return cal;
    }
    return Error{messages::no_embedded_calendar(underlying)};
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
        std::array<double, BUCKETS_PER_DAY> w;
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

        DayCurve& curve = cal.day_curves_[weekday].emplace();
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

Calendar::YearTable::YearTable(const YearTable& o) : size_(o.size_) {
    if (o.slots_ == nullptr) return;
    slots_ = std::make_unique<Year[]>(size_);
    std::copy_n(o.slots_.get(), size_, slots_.get());
}

Calendar::YearTable& Calendar::YearTable::operator=(const YearTable& o) {
    if (this != &o) *this = YearTable(o);
    return *this;
}

Calendar::YearTable::YearTable(YearTable&& o) noexcept
    : slots_(std::move(o.slots_)), size_(std::exchange(o.size_, 0)) {}

Calendar::YearTable& Calendar::YearTable::operator=(YearTable&& o) noexcept {
    slots_ = std::move(o.slots_);
    size_ = std::exchange(o.size_, 0);
    return *this;
}

const Calendar::Year* Calendar::YearTable::find(std::int64_t year) const {
    if (size_ == 0) return nullptr;
    const Year& y = slots_[slot_of(year, size_)];
    return y.year == year ? &y : nullptr;
}

const Calendar::Year& Calendar::YearTable::put(const Year& y) {
    if (size_ == 0) grow();
    while (slots_[slot_of(y.year, size_)].year != Year::NONE && size_ < MAX_SLOTS) grow();
    return slots_[slot_of(y.year, size_)] = y;
}

// Years apart in a table of n slots are apart in one of 2n, so none is lost.
void Calendar::YearTable::grow() {
    static_assert(sizeof(Year) * MAX_SLOTS <= 128 * 1024, "a calendar's years stay within 128 KiB");
    const std::size_t size = size_ == 0 ? MIN_SLOTS : size_ * 2;
    auto slots = std::make_unique<Year[]>(size);
    for (std::size_t i = 0; i < size_; ++i) {
        if (slots_[i].year != Year::NONE) slots[slot_of(slots_[i].year, size)] = slots_[i];
    }
    slots_ = std::move(slots);
    size_ = size;
}

const Calendar::Year& Calendar::year_entry(std::int64_t year, Year& hint) {
    if (hint.year == year) return hint;
    const Year* found = years_.find(year);
    if (found == nullptr) {
        // Local years stay far inside the 64-bit year range of the date
        // arithmetic, so the next 1 January always exists.
        const cctz::civil_day jan1(year, 1, 1);
        Year y;
        y.year = year;
        y.jan1_weekday = weekday_index(jan1);
        const std::int64_t days = cctz::civil_day(year + 1, 1, 1) - jan1;
        y.weight = span_weight(days, y.jan1_weekday);
        y.first_day = jan1 - cctz::civil_day(1970, 1, 1);
        y.end_day = y.first_day + days;
        cover_offsets(y);
        found = &years_.put(y);
    }
    return hint = *found;
}

const Calendar::Year& Calendar::year_of_day(std::int64_t day, Year& hint) {
    if (hint.holds_day(day)) return hint;
    return year_entry((cctz::civil_day(1970, 1, 1) + day).year(), hint);
}

// The year whose offsets cover the instant `utc`, if one met before does. The
// year that holds it on the UTC calendar does when it is kept: its range runs
// a day past the local year at either end, more than any offset.
const Calendar::Year* Calendar::year_around(std::int64_t utc, Year& hint) const {
    if (hint.covers(utc)) return &hint;
    const Year* found = years_.find((cctz::civil_second(1970, 1, 1, 0, 0, 0) + utc).year());
    if (found == nullptr || !found->covers(utc)) return nullptr;
    return &(hint = *found);
}

// The offset in force at the instant `utc` (seconds since the epoch), asked of
// the zone: the local wall clock is the UTC one moved by the offset.
std::int64_t Calendar::zone_offset(std::int64_t utc) const {
    const auto found = zone_.lookup(cctz::time_point<cctz::seconds>{cctz::seconds(utc)});
    return found.cs - (cctz::civil_second(1970, 1, 1, 0, 0, 0) + utc);
}

// Records the zone's changes of offset over the instants from a day before
// the year's local start to a day after its end, which hold every instant of
// the year whatever its offset (always under a day). An instant of a year met
// before then finds its offset by a short scan instead of a search of the
// zone's table, however the two arguments alternate between periods and
// years. The range stays empty, and the zone is asked at every instant,
// unless the table names every change in it: past the table's ends the
// library promises no changes (nor says where it stops naming them), and a
// change whose time or offsets disagree with a direct lookup is not trusted.
void Calendar::cover_offsets(Year& y) const {
    constexpr __int128 MARGIN = 86400;
    const auto clamp = [](__int128 s) {
        return static_cast<std::int64_t>(
            std::clamp<__int128>(s, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()));
    };
    const std::int64_t from = clamp(static_cast<__int128>(y.first_day) * 86400 - MARGIN);
    const std::int64_t to = clamp(static_cast<__int128>(y.end_day) * 86400 + MARGIN);
    y.from = y.to = from;
    y.change_count = 0;
    std::int64_t at = from, offset = zone_offset(from);
    y.offset = offset;
    for (;;) {
        cctz::time_zone::civil_transition next;
        if (!zone_.next_transition(cctz::time_point<cctz::seconds>{cctz::seconds(at)}, &next)) return;
        const std::int64_t change = zone_.lookup(next.to).trans.time_since_epoch().count();
        if (change <= at || zone_offset(std::min(change, to) - 1) != offset) return;
        if (change >= to) break;
        const std::int64_t after = zone_offset(change);
        if (after != offset) {  // a change of name or of daylight flag alone moves no clock
            if (y.change_count == MAX_CHANGES) return;
            y.changes[y.change_count++] = OffsetChange{change, after};
        }
        at = change;
        offset = after;
    }
    y.to = to;
}

double Calendar::bus_time(const Instant& t, Year& hint) {
    // Sub-second parts, leap nanoseconds included, do not move the wall clock.
    // The local wall clock is read as whole days and the second of the day.
    const Year* around = year_around(t.seconds, hint);
    const std::int64_t offset = around != nullptr ? around->offset_at(t.seconds) : zone_offset(t.seconds);
    std::int64_t local;
    if (__builtin_add_overflow(t.seconds, offset, &local))  // only at the ends of the int64 range
        local = t.seconds < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    // From the remainder, not local - day * 86400, which overflows at the ends.
    const std::int64_t rem = local % 86400;
    const std::int64_t day = local / 86400 - (rem < 0);
    const std::int64_t second_of_day = rem < 0 ? rem + 86400 : rem;
    const Year& year = around != nullptr && around->holds_day(day) ? *around : year_of_day(day, hint);
    const std::int64_t n = day - year.first_day;
    double p = span_weight(n, year.jan1_weekday);
    if (const auto& curve = day_curves_[(year.jan1_weekday + n) % 7]) {
        // floor(s / 900) and fmod(s, 900) of a whole number of seconds, exactly;
        // the last bucket caps k, so k + 1 always names a curve entry.
        const auto k = std::min(static_cast<std::size_t>(second_of_day / SECONDS_PER_BUCKET),
                                std::size_t{BUCKETS_PER_DAY - 1});
        const double f = static_cast<double>(second_of_day % SECONDS_PER_BUCKET) / SECONDS_PER_BUCKET;
        p = p + (((*curve)[k + 1] - (*curve)[k]) * f + (*curve)[k]);
    }
    return static_cast<double>(year.year) + p / year.weight;
}

double Calendar::get_bus_ttx(const Instant& from, const Instant& to) {
    const double end = bus_time(to, to_hint_);
    const double start = bus_time(from, from_hint_);
    return end - start;
}

double Calendar::get_cal_ttx(const Instant& from, const Instant& to) {
    constexpr std::int64_t NANOS_PER_SECOND = 1'000'000'000;
    // 128 bits hold any difference of two instants in nanoseconds.
    const __int128 span = (static_cast<__int128>(to.seconds) - from.seconds) * NANOS_PER_SECOND +
                          (static_cast<std::int64_t>(to.nanos) - static_cast<std::int64_t>(from.nanos));
    return static_cast<double>(span / NANOS_PER_SECOND) / 31536000.0;
}

}  // namespace tessel::calendar
