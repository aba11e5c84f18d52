#include "hylib/device_control.h"

#include "hylib/cmd_set.h"
#include "hylib/dialogue_util.h"
#include "hylib/interpreter.h"

namespace hyd::device {

namespace {

constexpr std::uint32_t cf_mask = 0x1E;
constexpr std::uint32_t cf_automatic = 0x1E;
constexpr std::uint32_t cf_manual = 0x0E;

hresult start_pinging(port& p, log_window* plw, cancel_ref cancel) {
    CSNCmdInterpreter rules;
    CHyCmd start("cs", &rules);
    return start.Execute(&p, mode_text, plw, cancel);
}

} // namespace

hresult initialize(port& p, bool automatic, byte_stream* commands, log_window* plw,
                   cancel_ref cancel) {
    return any_exception_fails([&]() -> hresult {
        CSNCmdInterpreter rules;
        CHyCmdSet set(&rules);
        if (commands) {
            const hresult hr = set.LoadFile(*commands);
            if (failed(hr)) return hr;
        }
        return set.Execute(automatic ? cf_automatic : cf_manual, cf_mask, &p, plw, true, cancel,
                           nullptr, false);
    });
}

hresult next(port& p, log_window* plw, cancel_ref cancel) {
    return guarded([&]() -> hresult {
        const hresult opened = p.open_reads();
        if (failed(opened)) return opened;
        const hresult read = guarded([&]() -> hresult {
            for (;;) {
                unsigned char byte = 0;
                ReadByte(&p, &byte, cancel);
                if (plw) plw->NewCommData(reinterpret_cast<const char*>(&byte), 1);
                if (byte == '>') return s_ok;
            }
        });
        p.close_reads();
        if (failed(read)) return read;
        const hresult hr = start_pinging(p, plw, cancel);
        return failed(hr) ? hr : s_ok;
    });
}

hresult reset(port& p, log_window* plw, cancel_ref cancel) {
    return any_exception_fails([&]() -> hresult {
        CSNCmdInterpreter rules;
        CHyBrkCmd wake_up(&rules, 1);
        const hresult hr = wake_up.Execute(&p, mode_text, nullptr, nullptr);
        if (failed(hr)) return hr;
        return start_pinging(p, plw, cancel);
    });
}

hresult close(port& p) {
    return any_exception_fails([&]() -> hresult {
        CSNCmdInterpreter rules;
        CHyBrkCmd wake_up(&rules, 1);
        return wake_up.Execute(&p, mode_text, nullptr, nullptr);
    });
}

hresult wake(port& p) {
    return any_exception_fails([&]() -> hresult {
        CSNCmdInterpreter rules;
        CHyBrkCmd wake_up(&rules, 2);
        return succeeded(wake_up.Execute(&p, mode_text, nullptr, nullptr)) ? s_ok : s_false;
    });
}

} // namespace hyd::device
