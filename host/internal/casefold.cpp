#include <host/internal/casefold.h>

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace host {
namespace casefold {
namespace {

struct upcase_range {
    std::uint16_t first;
    std::uint16_t last;
    std::int32_t delta;
    std::uint8_t stride;
};

constexpr upcase_range kRanges[] = {
#include <host/internal/upcase_table.inc>
};

constexpr bool ranges_sorted() {
    for (std::size_t i = 1; i < std::size(kRanges); ++i) {
        if (kRanges[i].first <= kRanges[i - 1].last)
            return false;
    }
    return true;
}
static_assert(ranges_sorted(), "upper-case ranges must be sorted and disjoint");

}  // namespace

WCHAR upcase(WCHAR unit) {
    if (unit < 0x80)
        return unit >= 'a' && unit <= 'z' ? static_cast<WCHAR>(unit - 32) : unit;
    // The last range whose first unit is not above `unit`.
    const upcase_range* end = std::end(kRanges);
    const upcase_range* it = std::upper_bound(
        std::begin(kRanges), end, unit,
        [](WCHAR value, const upcase_range& range) { return value < range.first; });
    if (it == std::begin(kRanges))
        return unit;
    --it;
    if (unit > it->last || (unit - it->first) % it->stride != 0)
        return unit;
    return static_cast<WCHAR>(unit + it->delta);
}

void upcase(const WCHAR* text, std::size_t length, WCHAR* out) {
    for (std::size_t i = 0; i < length; ++i)
        out[i] = upcase(text[i]);
}

}  // namespace casefold
}  // namespace host
