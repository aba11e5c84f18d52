#include "cli.h"

#ifdef _WIN32
#include "common/date_time_format_win.h"
#endif

#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstring>
#include <filesystem>

namespace hyd::tool {

int fail(const char* command, int code, const char* format, ...) {
    std::fprintf(stderr, "hyd %s: ", command);
    va_list list;
    va_start(list, format);
    std::vfprintf(stderr, format, list);
    va_end(list);
    std::fputc('\n', stderr);
    return code;
}

bool args::wants_help() const {
    for (const std::string& a : items)
        if (a == "--help" || a == "-h") return true;
    return false;
}

std::optional<std::int64_t> parse_number(std::string_view text, std::int64_t low,
                                         std::int64_t high) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < low || value > high)
        return std::nullopt;
    return value;
}

std::string hex_code(hresult hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

std::string code_text(hresult hr) {
    const char* name = result_name(hr);
    return name ? std::string(name) + " (" + hex_code(hr) + ")" : hex_code(hr);
}

const date_time_format& tool_date_time_format() {
#ifdef _WIN32
    return windows_date_time_format();
#else
    return c_library_date_time_format();
#endif
}

std::string failure_text(hresult hr, int error) {
    return error != 0 ? std::string(std::strerror(error)) : code_text(hr);
}

std::string unreadable_reason(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (ec) return ec.message();
    if (std::filesystem::is_directory(status)) return "is a directory";
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::strerror(errno);
    std::fclose(f);
    return {};
}

} // namespace hyd::tool
