#include "common/hy_exception_win.h"

#include "common/string_resource_win.h"

#include <windows.h>

#include <string>

namespace hyd {

namespace {

// The framework's insertion of %1, %2, ... into a string-table format.
std::string insert_arguments(const std::string& format, const std::string (&args)[3]) {
    std::string out;
    for (std::size_t i = 0; i < format.size(); ++i) {
        const char next = i + 1 < format.size() ? format[i + 1] : '\0';
        if (format[i] == '%' && next >= '1' && next <= '3') {
            out += args[next - '1'];
            ++i;
        } else {
            out += format[i];
        }
    }
    return out;
}

} // namespace

void report_exception(const CHyException& fault) {
    std::string text = fault.message();
    if (text.empty()) load_module_string(8900, &text);
    std::string format;
    load_module_string(8901, &format);
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    text += insert_arguments(format, {path, fault.file(), std::to_string(fault.line())});
    std::string caption;
    load_module_string(8902, &caption);

    MSG quit{};
    const bool quitting = PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    MessageBoxA(nullptr, text.c_str(), caption.c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
    if (quitting) PostQuitMessage(static_cast<int>(quit.wParam));
}

} // namespace hyd
