#include "common/string_table.h"

#include <algorithm>
#include <cstddef>
#include <iterator>

namespace hyd {

namespace {

constexpr string_entry entries[] = {
#define HYD_STRING(id, text) {id, text},
#include "common/strings.inc"
#undef HYD_STRING
};

constexpr bool strictly_ascending() {
    for (std::size_t i = 1; i < std::size(entries); ++i)
        if (entries[i - 1].id >= entries[i].id) return false;
    return true;
}
static_assert(strictly_ascending(), "strings.inc must list each number once, in ascending order");

} // namespace

const char* string_table_text(int id) {
    const auto* it = std::ranges::lower_bound(entries, id, {}, &string_entry::id);
    return it != std::end(entries) && it->id == id ? it->text : nullptr;
}

std::span<const string_entry> string_table_entries() {
    return entries;
}

} // namespace hyd
