// Start-up and shut-down of Hyd.dll, its class table and the four exports (ordinals in hyd.def).
#include "server/dll_win.h"

#include "common/com_boundary_win.h"
#include "common/win_raii_win.h"
#include "datasource/automation_win.h"
#include "datasource/divororazivo_win.h"
#include "datasource/ensemble_file_win.h"
#include "server/class_factory_win.h"
#include "server/registrar_win.h"

#include <comcat.h>

#include <string>

namespace hyd {

namespace {

constexpr UINT registry_script_divororazivo = 105;
constexpr UINT registry_script_ensemble_file = 106;

SRWLOCK g_factory_lock = SRWLOCK_INIT;

HRESULT update_divororazivo_registry(bool do_register) {
    return run_registry_resource(registry_script_divororazivo, do_register);
}

HRESULT update_ensemble_file_registry(bool do_register) {
    return run_registry_resource(registry_script_ensemble_file, do_register);
}

void no_start_stop(bool) {}

class_row g_classes[] = {
    {&CLSID_DiVORorazivo, update_divororazivo_registry, create_class_factory,
     DiVORorazivo::CreateInstance, nullptr, 0, nullptr, no_start_stop},
    // The automation class beside it; its registration touches none of the ensemble class's keys.
    {&CLSID_EnsembleFile, update_ensemble_file_registry, create_class_factory,
     CHyEnsembleFile::CreateInstance, nullptr, 0, nullptr, no_start_stop},
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr},
};

HRESULT create_category_manager(com_ptr<ICatRegister>& manager) {
    return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                            IID_ICatRegister, manager.put_void());
}

// Removes categories from a class. Wine's category manager fails when the class has no
// "Implemented Categories" key at all, where Windows has nothing to do and succeeds; with no such
// key there is nothing to remove, so that failure counts as success here.
HRESULT unregister_categories(ICatRegister* manager, REFCLSID clsid, CATID category) {
    const HRESULT hr = manager->UnRegisterClassImplCategories(clsid, 1, &category);
    if (SUCCEEDED(hr)) return hr;
    wchar_t text[40] = {};
    StringFromGUID2(clsid, text, 40);
    const std::wstring path = std::wstring(L"CLSID\\") + text + L"\\Implemented Categories";
    unique_hkey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return S_OK;
    return hr;
}

} // namespace

class_row* module_class_table() {
    return g_classes;
}

void module_enter() {
    AcquireSRWLockExclusive(&g_factory_lock);
}
void module_leave() {
    ReleaseSRWLockExclusive(&g_factory_lock);
}

bool module_start(HINSTANCE instance) {
    set_module_instance(instance);
    for (class_row* row = g_classes; row->clsid != nullptr; ++row) row->start_stop(true);
    return true;
}

void module_stop(bool process_ending) {
    for (class_row* row = g_classes; row->clsid != nullptr; ++row) {
        // At process exit other DLLs may already be gone: leave the memory to the system.
        if (row->factory != nullptr && !process_ending) row->factory->Release();
        row->factory = nullptr;
        row->start_stop(false);
    }
    if (!process_ending) release_automation_type_info();
}

} // namespace hyd

using namespace hyd;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        return module_start(instance) ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) module_stop(reserved != nullptr);
    return TRUE;
}

STDAPI DllCanUnloadNow() {
    return module_lock_count() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return com_call([&]() -> HRESULT {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        class_row* row = g_classes;
        while (row->clsid != nullptr && !IsEqualCLSID(*row->clsid, rclsid)) ++row;
        if (row->clsid == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
        // The cached pointer is published with a barrier, so a thread that sees it set also
        // sees the finished factory.
        auto cached = [row] {
            return static_cast<IUnknown*>(InterlockedCompareExchangePointer(
                reinterpret_cast<void* volatile*>(&row->factory), nullptr, nullptr));
        };
        if (cached() == nullptr) {
            module_enter();
            HRESULT hr = S_OK;
            if (cached() == nullptr) {
                IUnknown* made = nullptr;
                hr = row->create_factory(*row, &made);
                if (SUCCEEDED(hr))
                    InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&row->factory),
                                               made);
            }
            module_leave();
            if (FAILED(hr)) return hr;
        }
        const HRESULT hr = cached()->QueryInterface(riid, ppv);
        if (SUCCEEDED(hr) && *ppv == nullptr) return CLASS_E_CLASSNOTAVAILABLE;
        return hr;
    });
}

STDAPI DllRegisterServer() {
    return com_call([&]() -> HRESULT {
        // The class keys and the type library; their outcome does not decide the result.
        for (class_row* row = g_classes; row->clsid != nullptr; ++row) row->update_registry(true);
        register_type_library();

        com_ptr<ICatRegister> manager;
        if (const HRESULT hr = create_category_manager(manager); FAILED(hr)) return hr;
        CATID implemented = CATID_HydCategoryA;
        return manager->RegisterClassImplCategories(CLSID_DiVORorazivo, 1, &implemented);
    });
}

STDAPI DllUnregisterServer() {
    return com_call([&]() -> HRESULT {
        com_ptr<ICatRegister> manager;
        HRESULT hr = create_category_manager(manager);
        if (FAILED(hr)) return hr;
        hr = unregister_categories(manager.get(), CLSID_DiVORorazivo, CATID_HydCategoryA);
        if (SUCCEEDED(hr))
            hr = unregister_categories(manager.get(), CLSID_HyRefVel, CATID_HydCategoryB);
        if (SUCCEEDED(hr))
            hr = unregister_categories(manager.get(), CLSID_HyBotCut, CATID_HydCategoryB);
        if (FAILED(hr)) return hr;
        // The type library stays registered.
        for (class_row* row = g_classes; row->clsid != nullptr; ++row) row->update_registry(false);
        return S_OK;
    });
}
