#include "common/string_resource_win.h"

#include "common/module_win.h"

namespace hyd {

bool load_module_string(int id, std::string* out) {
    char text[1024];
    const int n = LoadStringA(module_instance(), static_cast<UINT>(id), text, sizeof text);
    out->assign(text, n > 0 ? static_cast<std::size_t>(n) : 0);
    return n > 0;
}

} // namespace hyd
