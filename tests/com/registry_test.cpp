// Registration through the DLL's own exports against Wine's registry: the keys the class script
// writes and removes, the category, the type library, and module paths with quotes in them.
#include "com_support.h"

#include <string>

namespace {

using namespace hyd::comtest;

std::string guid_text(REFGUID id) {
    wchar_t wide[40] = {};
    StringFromGUID2(id, wide, 40);
    return std::string(wide, wide + wcslen(wide));
}

const std::string clsid = guid_text(CLSID_DiVORorazivo);
const std::string class_key = "CLSID\\" + clsid;
const std::string typelib_key = "TypeLib\\" + guid_text(LIBID_HYD) + "\\1.0";

bool key_exists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// A string value, or "<missing>".
std::string value_of(const std::string& path, const char* name = nullptr) {
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    DWORD type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<missing>";
    const LONG err =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (err != ERROR_SUCCESS || type != REG_SZ) return "<missing>";
    return data;
}

std::vector<std::string> subkeys(const std::string& path) {
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name);
    }
    RegCloseKey(key);
    std::sort(names.begin(), names.end());
    return names;
}

class RegistryTest : public com_test {};

void expect_registered(const std::string& module) {
    EXPECT_EQ(value_of("Hyd.DiVORorazivo.1"), "HYD Sonic Ensemble");
    EXPECT_EQ(value_of("Hyd.DiVORorazivo.1\\CLSID"), clsid);
    EXPECT_EQ(value_of("Hyd.DiVORorazivo"), "HYD Sonic Ensemble");
    EXPECT_EQ(value_of("Hyd.DiVORorazivo\\CLSID"), clsid);
    EXPECT_FALSE(key_exists("Hyd.DiVORorazivo\\CurVer"));
    EXPECT_EQ(value_of(class_key), "HYD Sonic Ensemble");
    EXPECT_EQ(value_of(class_key + "\\ProgID"), "Hyd.DiVORorazivo.1");
    EXPECT_EQ(value_of(class_key + "\\FileExtension"), "sne");
    EXPECT_EQ(value_of(class_key + "\\VersionIndependentProgID"), "Hyd.DiVORorazivo");
    EXPECT_EQ(value_of(class_key + "\\InprocServer32"), module);
    EXPECT_EQ(value_of(class_key + "\\InprocServer32", "ThreadingModel"), "both");
    EXPECT_TRUE(
        key_exists(class_key + "\\Implemented Categories\\" + guid_text(CATID_HydCategoryA)));
    EXPECT_EQ(subkeys(class_key),
              (std::vector<std::string>{"FileExtension", "Implemented Categories", "InprocServer32",
                                        "ProgID", "VersionIndependentProgID"}));
    EXPECT_EQ(value_of(typelib_key), "Hyd 1.0 Type Library");
    EXPECT_EQ(value_of(typelib_key + "\\0\\win64"), module);
    EXPECT_EQ(value_of(typelib_key + "\\HELPDIR"), module.substr(0, module.rfind('\\') + 1));
}

void expect_unregistered() {
    EXPECT_FALSE(key_exists("Hyd.DiVORorazivo.1"));
    EXPECT_FALSE(key_exists("Hyd.DiVORorazivo"));
    // The class key goes unless a subkey the script does not list remains; the category
    // manager leaves its (now empty) "Implemented Categories" key behind.
    for (const std::string& name : subkeys(class_key)) EXPECT_EQ(name, "Implemented Categories");
    EXPECT_TRUE(subkeys(class_key + "\\Implemented Categories").empty());
    EXPECT_TRUE(key_exists("CLSID"));
    EXPECT_EQ(value_of(typelib_key), "Hyd 1.0 Type Library");
}

// Full path of the loaded module as Windows reports it.
std::string loaded_path(HMODULE module) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

TEST_F(RegistryTest, RegisterThenUnregister) {
    hyd_dll dll;
    ASSERT_TRUE(dll.loaded());
    ASSERT_EQ(dll.register_server(), S_OK);
    expect_registered(loaded_path(dll.module));
    ASSERT_EQ(dll.unregister_server(), S_OK);
    expect_unregistered();
    // Unregistering again finds nothing to remove and still succeeds.
    EXPECT_EQ(dll.unregister_server(), S_OK);
    expect_unregistered();
}

TEST_F(RegistryTest, RegisteringTwiceRebuildsTheOneClassKey) {
    hyd_dll dll;
    ASSERT_TRUE(dll.loaded());
    ASSERT_EQ(dll.register_server(), S_OK);
    HKEY stale = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, (class_key + "\\Stale").c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &stale, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(stale);
    ASSERT_EQ(dll.register_server(), S_OK);
    EXPECT_FALSE(key_exists(class_key + "\\Stale"));
    expect_registered(loaded_path(dll.module));
    const auto classes = subkeys("CLSID");
    EXPECT_EQ(std::count(classes.begin(), classes.end(), clsid), 1);
}

TEST_F(RegistryTest, ModulePathWithQuotesIsWrittenIntact) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "hyd it's 'quoted'";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string copy = folder + "\\Hyd.dll";
    ASSERT_TRUE(CopyFileA(built_dll().c_str(), copy.c_str(), FALSE));
    {
        hyd_dll dll(copy);
        ASSERT_TRUE(dll.loaded());
        const std::string path = loaded_path(dll.module);
        ASSERT_NE(path.find("it's 'quoted'"), std::string::npos);
        ASSERT_EQ(dll.register_server(), S_OK);
        expect_registered(path);
        ASSERT_EQ(dll.unregister_server(), S_OK);
        expect_unregistered();
    }
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

// A module whose TYPELIB resource cannot be loaded registers the type library from the ".tlb" file
// of the same name beside it.
TEST_F(RegistryTest, TypeLibraryFallsBackToTheTlbFile) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "hyd tlb fallback";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string copy = folder + "\\Hyd.dll";
    const std::string tlb = folder + "\\Hyd.tlb";
    ASSERT_TRUE(CopyFileA(built_dll().c_str(), copy.c_str(), FALSE));

    // The library goes to Hyd.tlb; the copy keeps a TYPELIB resource that is no type library.
    {
        HMODULE original = LoadLibraryExA(built_dll().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(original, nullptr);
        HRSRC found = FindResourceA(original, MAKEINTRESOURCEA(1), "TYPELIB");
        ASSERT_NE(found, nullptr);
        const void* bytes = LockResource(LoadResource(original, found));
        const DWORD size = SizeofResource(original, found);
        HANDLE file = CreateFileA(tlb.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes, size, &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(written, size);
        HANDLE update = BeginUpdateResourceA(copy.c_str(), FALSE);
        ASSERT_NE(update, nullptr);
        // In whatever language the resource compiler gave it.
        WORD language = 0;
        EnumResourceLanguagesA(
            original, "TYPELIB", MAKEINTRESOURCEA(1),
            [](HMODULE, LPCSTR, LPCSTR, WORD found, LONG_PTR out) -> BOOL {
                *reinterpret_cast<WORD*>(out) = found;
                return FALSE;
            },
            reinterpret_cast<LONG_PTR>(&language));
        // Wine keeps a resource it is asked to delete; one that is no type library does as well.
        char junk[] = "not a type library";
        ASSERT_TRUE(
            UpdateResourceA(update, "TYPELIB", MAKEINTRESOURCEA(1), language, junk, sizeof junk));
        ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
        FreeLibrary(original);
    }
    {
        hyd_dll dll(copy);
        ASSERT_TRUE(dll.loaded());
        HRSRC found = FindResourceA(dll.module, MAKEINTRESOURCEA(1), "TYPELIB");
        ASSERT_NE(found, nullptr);
        ASSERT_EQ(SizeofResource(dll.module, found), sizeof "not a type library");
        ASSERT_EQ(dll.register_server(), S_OK);
        const std::string module = loaded_path(dll.module);
        const std::string expected_tlb = module.substr(0, module.rfind('.')) + ".tlb";
        EXPECT_EQ(value_of(typelib_key + "\\0\\win64"), expected_tlb);
        EXPECT_EQ(value_of(typelib_key + "\\HELPDIR"), module.substr(0, module.rfind('\\') + 1));
        EXPECT_EQ(value_of(class_key + "\\InprocServer32"), module);
        ASSERT_EQ(dll.unregister_server(), S_OK);
    }
    // Leave the library registered from the built DLL, as the other tests expect.
    hyd_dll built;
    ASSERT_EQ(built.register_server(), S_OK);
    ASSERT_EQ(built.unregister_server(), S_OK);
    DeleteFileA(copy.c_str());
    DeleteFileA(tlb.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST_F(RegistryTest, ForeignClassesLoseOnlyCategoryB) {
    // The two classes this module does not serve have category B removed at unregistration;
    // their other categories stay.
    const std::string b = guid_text(CATID_HydCategoryB);
    const std::string other = "{6E2B7F30-0000-4000-8000-000000000001}";
    for (const CLSID* id : {&CLSID_HyRefVel, &CLSID_HyBotCut}) {
        for (const std::string& cat : {b, other}) {
            HKEY key = nullptr;
            const std::string path =
                "CLSID\\" + guid_text(*id) + "\\Implemented Categories\\" + cat;
            ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            RegCloseKey(key);
        }
    }
    hyd_dll dll;
    ASSERT_TRUE(dll.loaded());
    ASSERT_EQ(dll.register_server(), S_OK);
    ASSERT_EQ(dll.unregister_server(), S_OK);
    for (const CLSID* id : {&CLSID_HyRefVel, &CLSID_HyBotCut}) {
        const std::string cats = "CLSID\\" + guid_text(*id) + "\\Implemented Categories";
        EXPECT_EQ(subkeys(cats), std::vector<std::string>{other});
        RegDeleteKeyA(HKEY_CLASSES_ROOT, (cats + "\\" + other).c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, cats.c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT, ("CLSID\\" + guid_text(*id)).c_str());
    }
}

TEST_F(RegistryTest, DispatchUsesTheSeparatelyRegisteredAutomationLibrary) {
    const std::string path = program_folder() + "HydDisp.tlb";
    const std::wstring wide(path.begin(), path.end());
    com_ptr<ITypeLib> automation;
    ASSERT_EQ(LoadTypeLib(wide.c_str(), automation.put()), S_OK);
    std::wstring full = wide;
    ASSERT_EQ(RegisterTypeLib(automation.get(), full.data(), nullptr), S_OK);

    hyd_dll dll;
    ASSERT_TRUE(dll.loaded());
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory, factory.put_void()),
              S_OK);
    com_ptr<IDispatch> disp;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, disp.put_void()), S_OK);

    com_ptr<ITypeInfo> info;
    ASSERT_EQ(disp->GetTypeInfo(0, 0, info.put()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IHyEnsembleDisp));
    info->ReleaseTypeAttr(attr);

    const wchar_t* methods[] = {L"GetItemVariant", L"GetResourceText", L"GetItemLabels"};
    for (DISPID expected = 1; expected <= 3; ++expected) {
        std::wstring name = methods[expected - 1];
        LPOLESTR names[] = {name.data()};
        DISPID id = 0;
        ASSERT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
        EXPECT_EQ(id, expected);
    }
    // Invoke reaches the method through the type information: on an object that holds nothing a
    // fixed-leader item fails, and the call comes back as an exception carrying E_FAIL.
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_I4;
    arg.lVal = 7113;
    DISPPARAMS params{&arg, nullptr, 1, 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO error{};
    const HRESULT hr =
        disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, &result, &error, nullptr);
    EXPECT_TRUE(hr == DISP_E_EXCEPTION && error.scode == E_FAIL) << hr;
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);

    // The type information is kept for the module's life: unregistering the library now does
    // not take it away.
    TLIBATTR* lib = nullptr;
    ASSERT_EQ(automation->GetLibAttr(&lib), S_OK);
    ASSERT_EQ(
        UnRegisterTypeLib(lib->guid, lib->wMajorVerNum, lib->wMinorVerNum, lib->lcid, lib->syskind),
        S_OK);
    automation->ReleaseTLibAttr(lib);
    std::wstring name = L"GetItemLabels";
    LPOLESTR names[] = {name.data()};
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, 3);
}

} // namespace
