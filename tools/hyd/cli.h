// Shared pieces of the hyd commands: argument parsing, error lines and the item lists every
// command walks.
#pragma once

#include "common/date_time_format.h"
#include "common/result_codes.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hyd::tool {

// Exit codes: 0 done, 1 the data or a file could not be read or written, 2 bad arguments.
inline constexpr int exit_ok = 0;
inline constexpr int exit_io = 1;
inline constexpr int exit_usage = 2;

// Prints "hyd COMMAND: message" on stderr and returns code.
int fail(const char* command, int code, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// The arguments after the command name.
struct args {
    std::vector<std::string> items;
    bool wants_help() const;
};

// A whole decimal number within [low, high]; nothing for anything else.
std::optional<std::int64_t> parse_number(std::string_view text, std::int64_t low,
                                         std::int64_t high);

// "0x%08X" of a result code, and its symbolic name when it has one.
std::string hex_code(hresult hr);
std::string code_text(hresult hr);
// A failure for people: the system's own text when the stream saw an errno, else code_text.
std::string failure_text(hresult hr, int error);

// Refuses directories and the like up front, so a read error never masquerades as an empty file.
// Returns an empty string when path looks like a readable file, else the reason.
std::string unreadable_reason(const std::string& path);

// How the tool shows item dates and times: as Windows does on Windows, else the C library's.
const date_time_format& tool_date_time_format();

int run_dump(const args& a);
int run_info(const args& a);
int run_show(const args& a);
int run_synth(const args& a);
// The instrument commands (Linux only): deploy, stop, wake, probe, setup.
int run_deploy(const args& a);
int run_stop(const args& a);
int run_wake(const args& a);
int run_probe(const args& a);
int run_setup(const args& a);
#ifdef _WIN32
int run_automation(const args& a);
#endif

} // namespace hyd::tool
