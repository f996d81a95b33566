#pragma once
// Time zones served from the compiled-in database only.
#include <string_view>

#include <cctz/time_zone.h>

#include "core/result.hpp"

namespace tessel::calendar {

// Points the time zone library at the compiled-in database. The library's own
// fallback (files, environment) is never consulted. Safe to call repeatedly.
void install_embedded_zoneinfo();

// The zone under its exact, case-sensitive name, canonical or link.
// Fails with "Invalid IANA timezone: <name>".
Result<cctz::time_zone> load_zone(std::string_view name);

}  // namespace tessel::calendar
