#pragma once
// Trading-time calendar: day weights per weekday, quarter-hour profiles on the
// local clock of a time zone, and the measures of time built on them.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include <cctz/civil_time.h>
#include <cctz/time_zone.h>

#include "calendar/calendar_json.hpp"
#include "core/instant.hpp"
#include "core/result.hpp"

namespace tessel::calendar {

class Calendar {
public:
    // The compiled-in document of `underlying`, parsed afresh on every call.
    static Result<Calendar> create(std::string_view underlying);
    static Result<Calendar> from_document(std::string_view json_text);

    // Business time from `from` to `to` in years; each local calendar year
    // holds exactly 1.0. Fills the per-year cache, hence not const.
    double get_bus_ttx(const Instant& from, const Instant& to);
    // Whole seconds between the two, truncated toward zero, in 365-day years.
    static double get_cal_ttx(const Instant& from, const Instant& to);

    // Weekday index: Monday = 0 to Sunday = 6.
    const std::optional<std::array<double, 97>>& day_curve(int weekday) const { return day_curves_[weekday]; }
    double day_weight(int weekday) const { return day_weights_[weekday]; }
    double week_weight() const { return week_weight_; }
    double year_weight(std::int32_t year) {
        YearHint hint;
        return year_entry(year, hint).weight;
    }
    std::string_view underlying() const { return underlying_; }

private:
    // From `at` (seconds since the epoch) on, the zone's UTC offset is `offset`.
    struct OffsetChange {
        std::int64_t at;
        std::int64_t offset;
    };
    // No zone of the database changes its offset more often within a year
    // and a day either side (Cairo in 2010 does so four times); a year that
    // did would ask the zone at every instant instead.
    static constexpr int MAX_CHANGES = 4;
    // What one local year needs, worked out once: its weight and first day,
    // and the zone's offsets over the UTC instants around it, so that an
    // instant of a year met before finds its local time without the zone.
    struct Year {
        std::int64_t year;
        double weight;
        std::int64_t first_day;  // 1 January, in days since 1970-01-01
        std::int64_t end_day;    // the next 1 January
        int jan1_weekday;
        int change_count;
        // Offsets over the instants [from, to): `offset` up to the first
        // change, then each change in turn. Empty (from == to) where the
        // zone's table of changes does not vouch for the whole range.
        std::int64_t from, to;
        std::int64_t offset;
        std::array<OffsetChange, MAX_CHANGES> changes;

        bool covers(std::int64_t utc) const { return from <= utc && utc < to; }
        std::int64_t offset_at(std::int64_t utc) const {
            std::int64_t found = offset;
            for (int i = 0; i < change_count && changes[i].at <= utc; ++i) found = changes[i].offset;
            return found;
        }
    };

    // The year that served one argument of get_bus_ttx last, tried first.
    // A copied calendar has entries of its own, so a copy starts without.
    struct YearHint {
        const Year* year = nullptr;
        YearHint() = default;
        YearHint(const YearHint&) noexcept {}
        YearHint& operator=(const YearHint&) noexcept {
            year = nullptr;
            return *this;
        }
        // Moving the map moves its nodes along, so the entry stays valid.
        YearHint(YearHint&& o) noexcept : year(o.year) {}
        YearHint& operator=(YearHint&& o) noexcept {
            year = o.year;
            return *this;
        }
    };

    static Result<Calendar> from_record(const CalendarJson& doc);

    double bus_time(const Instant& t, YearHint& hint);
    double span_weight(std::int64_t days, int first_weekday) const;
    const Year& year_entry(std::int64_t year, YearHint& hint);
    const Year& year_of_day(std::int64_t day, YearHint& hint);
    const Year* year_around(std::int64_t utc, YearHint& hint) const;
    void cover_offsets(Year& y) const;
    std::int64_t zone_offset(std::int64_t utc) const;

    std::array<std::optional<std::array<double, 97>>, 7> day_curves_{};
    std::array<double, 7> day_weights_{};
    double week_weight_ = 0.0;
    cctz::time_zone zone_;
    std::string_view underlying_;
    // One entry per local year met, never removed. A hash map's nodes stay
    // put as years are added, in any order and however many, so an entry
    // costs the same to add as the first and the hints below stay valid.
    std::unordered_map<std::int64_t, Year> years_;
    // In a pricing loop `to` stays in its year while `from` moves in its own.
    YearHint to_hint_, from_hint_;
};

}  // namespace tessel::calendar
