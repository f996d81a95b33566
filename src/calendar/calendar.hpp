#pragma once
// Trading-time calendar: day weights per weekday, quarter-hour profiles on the
// local clock of a time zone, and the measures of time built on them.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

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
    double year_weight(std::int32_t year) { return year_entry(year).weight; }
    std::string_view underlying() const { return underlying_; }

private:
    struct Year {
        std::int64_t year;
        double weight;
        cctz::civil_day jan1;
        int jan1_weekday;
        std::int64_t first_day;  // 1 January, in days since 1970-01-01
        std::int64_t end_day;    // the next 1 January
    };
    // The zone's UTC offset over the instants [begin, end), in seconds.
    struct OffsetSpan {
        std::int64_t begin;
        std::int64_t end;
        std::int64_t offset;
    };

    static Result<Calendar> from_record(const CalendarJson& doc);

    double bus_time(const Instant& t);
    double span_weight(std::int64_t days, int first_weekday) const;
    const Year& year_entry(std::int64_t year);
    const Year& year_of_day(std::int64_t day);
    std::int64_t utc_offset(std::int64_t utc);

    std::array<std::optional<std::array<double, 97>>, 7> day_curves_{};
    std::array<double, 7> day_weights_{};
    double week_weight_ = 0.0;
    cctz::time_zone zone_;
    std::string_view underlying_;
    // Sorted by year; a handful of entries in practice, the last hit tried first.
    std::vector<Year> years_;
    std::size_t last_year_ = 0;
    // The span of the last offset looked up; empty at first.
    OffsetSpan offset_span_{0, 0, 0};
};

}  // namespace tessel::calendar
