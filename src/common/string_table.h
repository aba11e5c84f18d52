// Portable lookup of the library's string table (the texts of strings.inc by number), for tools
// and tests; the DLL loads the same texts from its STRINGTABLE resource.
#pragma once

#include <span>

namespace hyd {

struct string_entry {
    int id;
    const char* text;
};

// Text of entry `id`, or null when the table has none (for example 8900 to 8902).
const char* string_table_text(int id);

// Every entry, in ascending order of number.
std::span<const string_entry> string_table_entries();

} // namespace hyd
