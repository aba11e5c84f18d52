#include "hylib/device_control_win.h"

#include "common/com_boundary_win.h"
#include "common/istream_adapter_win.h"
#include "common/module_win.h"
#include "common/text_win.h"
#include "hylib/device_control.h"
#include "hylib/serial_port_win.h"
#include "streams/hyfile_win.h"

#include <optional>
#include <string>

namespace hyd {

namespace {

// The process's main window: its first visible top-level window that no other window owns.
HWND main_window() {
    struct search {
        DWORD process;
        HWND found;
    } s{GetCurrentProcessId(), nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<search*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner != s->process || !IsWindowVisible(w) || GetWindow(w, GW_OWNER)) return TRUE;
            s->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    return s.found;
}

// The host's IHyLogWnd, the question box and the module's texts, as the dialogue sees them.
class host_log final : public log_window {
  public:
    explicit host_log(IHyLogWnd* plw) : plw_(plw) {}
    void NewCommData(const char* data, std::uint32_t length) override {
        plw_->NewCommData(reinterpret_cast<signed char*>(const_cast<char*>(data)), length);
    }
    void ShowWindowAsync(long nCmdShow) override { plw_->ShowWindowAsync(nCmdShow); }
    // Without a display the box cannot be shown and MessageBox fails at once: that is a No.
    bool AskContinue(const std::string& question) override {
        return MessageBoxA(main_window(), question.c_str(), "Hyd",
                           MB_YESNO | MB_ICONQUESTION | MB_APPLMODAL) == IDYES;
    }
    std::string Text(int id) override { return module_text(id); }

  private:
    IHyLogWnd* plw_;
};

} // namespace

HRESULT device_initialize(long bAuto, BSTR bstPath, HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent,
                          long) {
    return com_call([&]() -> HRESULT {
        call_port line(hComm, 0);
        host_log log(plw);
        CHyDiskFile file;
        std::optional<istream_adapter> commands;
        if (const std::string path = narrow(bstPath); !path.empty()) {
            if (file.CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr) == INVALID_HANDLE_VALUE)
                return hresult_from_win32(GetLastError());
            commands.emplace(static_cast<IStream*>(&file));
        }
        return device::initialize(line.port, bAuto != 0, commands ? &*commands : nullptr,
                                  plw ? &log : nullptr, hEvent);
    });
}

HRESULT device_next(HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent, long iBreakType) {
    return com_call([&]() -> HRESULT {
        call_port line(hComm, iBreakType);
        host_log log(plw);
        return device::next(line.port, plw ? &log : nullptr, hEvent);
    });
}

HRESULT device_reset(HANDLE hComm, IHyLogWnd* plw, HANDLE hEvent, long iBreakType) {
    return com_call([&]() -> HRESULT {
        call_port line(hComm, iBreakType);
        host_log log(plw);
        return device::reset(line.port, plw ? &log : nullptr, hEvent);
    });
}

HRESULT device_close(HANDLE hComm, long iBreakType) {
    return com_call([&]() -> HRESULT {
        call_port line(hComm, iBreakType);
        return device::close(line.port);
    });
}

} // namespace hyd
