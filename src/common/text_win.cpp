#include "common/text_win.h"

#include "common/module_win.h"

namespace hyd {

namespace {

int wide_length(std::string_view text) {
    if (text.empty()) return 0;
    return MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
}

} // namespace

std::wstring widen(std::string_view text) {
    std::wstring wide(static_cast<std::size_t>(wide_length(text)), L'\0');
    if (!wide.empty())
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            static_cast<int>(wide.size()));
    return wide;
}

std::string narrow(const wchar_t* text) {
    if (text == nullptr || *text == L'\0') return {};
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1)); // the terminator
    return out;
}

HRESULT to_bstr(std::string_view text, BSTR* out) {
    const int n = wide_length(text);
    BSTR made = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (made == nullptr) return E_OUTOFMEMORY;
    if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), made, n);
    *out = made;
    return S_OK;
}

bool load_module_text(long id, std::wstring& text) {
    if (id < 0 || id > 0xFFFF) return false;
    const wchar_t* found = nullptr;
    const int n =
        LoadStringW(module_instance(), static_cast<UINT>(id), reinterpret_cast<LPWSTR>(&found), 0);
    if (n <= 0) return false;
    text.assign(found, static_cast<std::size_t>(n));
    return true;
}

} // namespace hyd
