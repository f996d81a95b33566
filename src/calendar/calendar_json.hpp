#pragma once
// The calendar document: a JSON object with `TimeWeightings`, `DayWeightings`
// and `IanaTimeZone`.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/result.hpp"

namespace tessel::calendar {

// Entries stay in document order, duplicates included; whoever applies them
// lets later duplicates win.
struct CalendarJson {
    std::vector<std::pair<std::string, std::vector<std::pair<std::string, double>>>> time_weightings;
    std::vector<std::pair<std::string, double>> day_weightings;
    std::string iana_time_zone;
};

Result<CalendarJson> parse_calendar_json(std::string_view text);

// As above, for text followed by at least simdjson::SIMDJSON_PADDING readable
// bytes, which spares the parser its copy.
Result<CalendarJson> parse_calendar_json_padded(std::string_view text);

}  // namespace tessel::calendar
