#pragma once
// The IANA time zone database, compiled in from the build machine's tzdata
// (tools/gen_tzdb.py writes the definitions).
#include <cstddef>

namespace tessel::calendar::tzdb {

struct Entry {
    const char* name;           // zone or link name, e.g. "US/Eastern"
    const unsigned char* data;  // TZif bytes
    std::size_t size;
};

extern const Entry entries[];  // sorted by name, byte order
extern const std::size_t entry_count;
extern const char version[];  // release of the database, e.g. "2025b"

}  // namespace tessel::calendar::tzdb
