// Texts of the module's own string table (the STRINGTABLE resource built from strings.inc), so a
// localised resource localises every text the library shows.
#pragma once

#include <string>

namespace hyd {

// False, with *out emptied, when the table has no text with that number.
bool load_module_string(int id, std::string* out);

} // namespace hyd
