#include "common/module_win.h"

namespace hyd {

namespace {
HINSTANCE g_instance = nullptr;
LONG g_locks = 0;
} // namespace

HINSTANCE module_instance() {
    if (g_instance != nullptr) return g_instance;
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&module_instance), &self);
    return self;
}

void set_module_instance(HINSTANCE instance) {
    g_instance = instance;
}

std::string module_text(int id) {
    char text[1024];
    const int n = LoadStringA(module_instance(), static_cast<UINT>(id), text, sizeof text);
    return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

void module_lock() {
    InterlockedIncrement(&g_locks);
}
void module_unlock() {
    InterlockedDecrement(&g_locks);
}
LONG module_lock_count() {
    return InterlockedCompareExchange(&g_locks, 0, 0);
}

} // namespace hyd
