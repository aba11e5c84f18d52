// hyd automation (Windows build only): registers or unregisters HydDisp.tlb, the automation
// library that script hosts need and that Hyd.dll's own registration leaves alone.
#include "cli.h"
#include "common/text_win.h"
#include "common/win_raii_win.h"

#include <windows.h>

#include <oleauto.h>

#include <string>

namespace hyd::tool {

namespace {

constexpr const char* automation_help =
    "usage: hyd automation register [TLB]\n"
    "       hyd automation unregister [TLB]\n"
    "\n"
    "Registers (or unregisters) the automation library of Hyd.dll, which script hosts need to\n"
    "call the ensemble objects and to create Hyd.EnsembleFile. TLB defaults to the HydDisp.tlb\n"
    "beside hyd.exe. Register Hyd.dll itself with regsvr32.\n";

std::string error_text(HRESULT hr) {
    char* found = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&found), 0, nullptr);
    std::string text(found ? found : "", n);
    LocalFree(found);
    text.erase(text.find_last_not_of(" \r\n") + 1);
    return text.empty() ? hex_code(hr) : text + " (" + hex_code(hr) + ")";
}

} // namespace

int run_automation(const args& a) {
    if (a.wants_help()) {
        std::fputs(automation_help, stdout);
        return exit_ok;
    }
    const std::size_t n = a.items.size();
    if (n < 1 || n > 2 || (a.items[0] != "register" && a.items[0] != "unregister"))
        return fail("automation", exit_usage,
                    "expects register or unregister and an optional TLB (see --help)");
    const bool do_register = a.items[0] == "register";
    wchar_t path[MAX_PATH] = {};
    if (n == 2) {
        if (GetFullPathNameW(widen(a.items[1]).c_str(), MAX_PATH, path, nullptr) == 0)
            return fail("automation", exit_usage, "bad path %s", a.items[1].c_str());
    } else {
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring beside(path);
        beside = beside.substr(0, beside.find_last_of(L"\\/") + 1) + L"HydDisp.tlb";
        lstrcpynW(path, beside.c_str(), MAX_PATH);
    }
    const std::string shown = narrow(path);
    com_ptr<ITypeLib> library;
    if (const HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, library.put()); FAILED(hr))
        return fail("automation", exit_io, "cannot load %s: %s", shown.c_str(),
                    error_text(hr).c_str());
    HRESULT hr = S_OK;
    if (do_register) {
        std::wstring folder(path);
        folder.resize(folder.find_last_of(L"\\/") + 1);
        hr = RegisterTypeLib(library.get(), path, folder.data());
    } else {
        TLIBATTR* attr = nullptr;
        hr = library->GetLibAttr(&attr);
        if (SUCCEEDED(hr)) {
            hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                                   attr->syskind);
            library->ReleaseTLibAttr(attr);
        }
    }
    if (FAILED(hr))
        return fail("automation", exit_io, "cannot %s %s: %s", a.items[0].c_str(), shown.c_str(),
                    error_text(hr).c_str());
    std::printf("hyd automation: %sed %s\n", a.items[0].c_str(), shown.c_str());
    return exit_ok;
}

} // namespace hyd::tool
