#include "hylib/port.h"

#include "common/string_table.h"

namespace hyd {

std::string log_window::Text(int id) {
    const char* text = string_table_text(id);
    return text ? text : "";
}

} // namespace hyd
