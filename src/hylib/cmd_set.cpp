#include "hylib/cmd_set.h"

#include "hylib/dialogue_util.h"
#include "hylib/interpreter.h"

namespace hyd {

namespace {

constexpr int text_not_allowed = 8501;
constexpr int text_generated = 8502;
constexpr long show_window = 5;

void log_text(log_window* plw, const std::string& text) {
    plw->NewCommData(text.data(), static_cast<std::uint32_t>(text.size()));
}

} // namespace

void CHyCmdSet::add_line(std::string line) {
    if (line.empty()) return;
    const std::size_t first = line.find_first_not_of(' ');
    if (first != std::string::npos && (line[first] == ';' || line[first] == '$')) return;
    m_commands.push_back(std::make_unique<CHyCmd>(std::move(line), m_interpreter));
}

hresult CHyCmdSet::LoadFile(byte_stream& file) {
    std::string line;
    char chunk[4096];
    for (;;) {
        std::uint32_t got = 0;
        if (failed(file.read(chunk, sizeof chunk, &got))) return HY_E_IO;
        if (got == 0) return s_ok; // what follows the last CR LF is dropped
        for (std::uint32_t i = 0; i < got; ++i) {
            line += chunk[i];
            if (line.size() >= 2 && line[line.size() - 2] == '\r' && line.back() == '\n') {
                line.resize(line.size() - 2);
                add_line(std::move(line));
                line.clear();
            }
        }
    }
}

hresult CHyCmdSet::Execute(std::uint32_t flags, std::uint32_t mask, port* p, log_window* plw,
                           bool bShowLog, cancel_ref hEvent, const char* pszName,
                           bool bNoGenerated) {
    return guarded([&]() -> hresult {
        if (plw && bShowLog) plw->ShowWindowAsync(show_window);
        long mode = mode_text;
        hresult hr = m_interpreter->WakeUp(p, &mode, plw, hEvent);
        if (failed(hr)) return hr;
        for (const auto& command : m_commands) {
            if (!m_interpreter->IsAllowed(command.get())) {
                if (plw)
                    log_text(plw, fill_text(plw->Text(text_not_allowed), "%1", command->command()));
                continue;
            }
            hr = command->Execute(p, mode, plw, hEvent);
            if (failed(hr)) return hr;
            hr = command->GetMode(&mode);
            if (failed(hr)) return hr;
        }
        if (bNoGenerated) return s_ok;
        if (plw) log_text(plw, plw->Text(text_generated));
        return m_interpreter->SendGenerated(flags, mask, pszName, p, &mode, plw, hEvent);
    });
}

} // namespace hyd
