#pragma once
// Calendar documents compiled into the module (tools/embed_calendars.py
// writes the definitions).
#include <cstddef>

namespace tessel::calendar::embedded {

struct Document {
    const char* underlying;
    const char* text;  // followed by at least 64 zero bytes, the parser's padding
    std::size_t size;  // without the padding
};

extern const Document documents[];
extern const std::size_t document_count;

}  // namespace tessel::calendar::embedded
