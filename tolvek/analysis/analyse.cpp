#include "analysis/analyse.hpp"

#include "analysis/text.hpp"
#include "analysis/trace.hpp"

namespace tolvek {

MemoryMap analyse(const Image& image, const AnalysisOptions& options) {
    MemoryMap map(image);
    map.basic = find_basic(image);
    for (std::uint32_t a = image.load; a < map.basic_end(); ++a) map.set(a, Kind::Basic, Source::Basic);
    map.entry = options.entry;
    map.entry_in_image = image.contains(options.entry);
    if (map.entry_in_image) {
        const auto start = static_cast<std::uint32_t>(options.entry);
        map.entry_in_basic = start < map.basic_end();
        if (!map.entry_in_basic) trace_from(map, start, Source::Trace);
    }
    const std::vector<AddressTable> tables = options.guesses ? find_more_code(map) : std::vector<AddressTable>{};
    // Text first: a table found by chance must not cut through real text.
    mark_text(map);
    record_tables(map, tables);
    return map;
}

}  // namespace tolvek
