#pragma once
// Trading-time calendar: day weights per weekday, quarter-hour profiles on the
// local clock of a time zone, and the measures of time built on them.
#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>

#include <cctz/civil_time.h>
#include <cctz/time_zone.h>

#include "calendar/bucket.hpp"
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
    const std::optional<DayCurve>& day_curve(int weekday) const { return day_curves_[weekday]; }
    double day_weight(int weekday) const { return day_weights_[weekday]; }
    double week_weight() const { return week_weight_; }
    double year_weight(std::int32_t year) {
        Year hint;
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
    // Default-constructed it is no year: it covers no instant and holds no day.
    struct Year {
        static constexpr std::int64_t NONE = std::numeric_limits<std::int64_t>::min();
        std::int64_t year = NONE;
        double weight = 0.0;
        std::int64_t first_day = 0;  // 1 January, in days since 1970-01-01
        std::int64_t end_day = 0;    // the next 1 January
        int jan1_weekday = 0;
        int change_count = 0;
        // Offsets over the instants [from, to): `offset` up to the first
        // change, then each change in turn. Empty (from == to) where the
        // zone's table of changes does not vouch for the whole range.
        std::int64_t from = 0, to = 0;
        std::int64_t offset = 0;
        std::array<OffsetChange, MAX_CHANGES> changes{};

        bool covers(std::int64_t utc) const { return from <= utc && utc < to; }
        bool holds_day(std::int64_t day) const { return first_day <= day && day < end_day; }
        std::int64_t offset_at(std::int64_t utc) const {
            std::int64_t found = offset;
            for (int i = 0; i < change_count && changes[i].at <= utc; ++i) found = changes[i].offset;
            return found;
        }
    };

    // The years met, each in the slot of its number modulo the table's size,
    // so that any run of consecutive years up to that size sits side by side.
    // The table starts small and doubles when two years meet in one slot; at
    // full size the year met later takes the slot. An entry is only ever the
    // year's own values, so what is dropped is worked out again the same.
    // A copy has a table of its own: copies share nothing that changes.
    class YearTable {
    public:
        static constexpr std::size_t MIN_SLOTS = 8;
        static constexpr std::size_t MAX_SLOTS = 1024;

        YearTable() = default;
        YearTable(const YearTable& o);
        YearTable& operator=(const YearTable& o);
        YearTable(YearTable&& o) noexcept;
        YearTable& operator=(YearTable&& o) noexcept;

        const Year* find(std::int64_t year) const;
        const Year& put(const Year& y);

    private:
        static std::size_t slot_of(std::int64_t year, std::size_t size) {
            return static_cast<std::size_t>(static_cast<std::uint64_t>(year) & (size - 1));
        }
        void grow();

        std::unique_ptr<Year[]> slots_;
        std::size_t size_ = 0;
    };

    static Result<Calendar> from_record(const CalendarJson& doc);

    // `hint` is a copy of the year that served the same argument last time.
    double bus_time(const Instant& t, Year& hint);
    double span_weight(std::int64_t days, int first_weekday) const;
    const Year& year_entry(std::int64_t year, Year& hint);
    const Year& year_of_day(std::int64_t day, Year& hint);
    const Year* year_around(std::int64_t utc, Year& hint) const;
    void cover_offsets(Year& y) const;
    std::int64_t zone_offset(std::int64_t utc) const;

    std::array<std::optional<DayCurve>, 7> day_curves_{};
    std::array<double, 7> day_weights_{};
    double week_weight_ = 0.0;
    cctz::time_zone zone_;
    std::string_view underlying_;
    YearTable years_;
    // In a pricing loop `to` stays in its year while `from` moves in its own.
    // Each keeps a copy of its year, whatever the table does meanwhile.
    Year to_hint_, from_hint_;
};

}  // namespace tessel::calendar
