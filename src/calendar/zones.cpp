#include "calendar/zones.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include <cctz/zone_info_source.h>

#include "calendar/tzdb.hpp"
#include "core/messages.hpp"

namespace tessel::calendar {
namespace {

const tzdb::Entry* find_entry(std::string_view name) {
    const tzdb::Entry* first = tzdb::entries;
    const tzdb::Entry* last = tzdb::entries + tzdb::entry_count;
    // char_traits<char> compares as unsigned bytes, the table's order.
    const tzdb::Entry* it = std::lower_bound(
        first, last, name, [](const tzdb::Entry& e, std::string_view n) { return std::string_view(e.name) < n; });
    return (it != last && std::string_view(it->name) == name) ? it : nullptr;
}

class MemorySource final : public cctz::ZoneInfoSource {
public:
    explicit MemorySource(const tzdb::Entry& e) : pos_(e.data), left_(e.size) {}

    std::size_t Read(void* ptr, std::size_t size) override {
        size = std::min(size, left_);
        if (size != 0) std::memcpy(ptr, pos_, size);
        pos_ += size;
        left_ -= size;
        return size;
    }
    int Skip(std::size_t offset) override {
        if (offset > left_) return -1;
        pos_ += offset;
        left_ -= offset;
        return 0;
    }
    std::string Version() const override { return tzdb::version; }

private:
    const unsigned char* pos_;
    std::size_t left_;
};

std::unique_ptr<cctz::ZoneInfoSource> embedded_source(
    const std::string& name, const std::function<std::unique_ptr<cctz::ZoneInfoSource>(const std::string&)>&) {
    const tzdb::Entry* e = find_entry(name);
    if (e == nullptr) return nullptr;
    return std::make_unique<MemorySource>(*e);
}

std::once_flag install_once;

}  // namespace

void install_embedded_zoneinfo() {
    std::call_once(install_once, [] { cctz_extension::zone_info_source_factory = &embedded_source; });
}

Result<cctz::time_zone> load_zone(std::string_view name) {
    install_embedded_zoneinfo();
    // The library resolves some names (such as "UTC") without asking the
    // source, so membership in the table is checked here.
    cctz::time_zone zone;
    if (find_entry(name) == nullptr || !cctz::load_time_zone(std::string(name), &zone)) {
        return Error{messages::invalid_time_zone(name)};
    }
    return zone;
}

}  // namespace tessel::calendar
