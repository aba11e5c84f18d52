// The DLL's resources: the string table built from the same source as the portable lookup, and
// the type library with what it must and must not describe.
#include "com_support.h"

#include "common/string_table.h"

#include <string>

namespace {

using namespace hyd::comtest;

TEST(Resources, StringTableMatchesThePortableTable) {
    hyd_dll dll;
    ASSERT_TRUE(dll.loaded());
    int checked = 0;
    for (const hyd::string_entry& e : hyd::string_table_entries()) {
        char text[512] = {};
        const int n = LoadStringA(dll.module, UINT(e.id), text, sizeof text);
        ASSERT_GT(n, 0) << e.id;
        EXPECT_EQ(std::string(text, std::size_t(n)), e.text) << e.id;
        ++checked;
    }
    EXPECT_EQ(checked, 201);
    // Numbers the table does not hold load as empty texts.
    char text[16] = {};
    for (const UINT id : {8900u, 8901u, 8902u, 1u})
        EXPECT_EQ(LoadStringA(dll.module, id, text, 16), 0);
}

TEST(Resources, TypeLibraryDescribesTheLibraryInterfacesOnly) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
        const std::string path = built_dll();
        const std::wstring wide(path.begin(), path.end());
        com_ptr<ITypeLib> library;
        ASSERT_EQ(LoadTypeLib(wide.c_str(), library.put()), S_OK);
        BSTR name = nullptr, doc = nullptr;
        ASSERT_EQ(library->GetDocumentation(-1, &name, &doc, nullptr, nullptr), S_OK);
        EXPECT_STREQ(name, L"HYD");
        EXPECT_STREQ(doc, L"Hyd 1.0 Type Library");
        SysFreeString(name);
        SysFreeString(doc);
        TLIBATTR* attr = nullptr;
        ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
        EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_HYD));
        EXPECT_EQ(attr->wMajorVerNum, 1);
        EXPECT_EQ(attr->wMinorVerNum, 0);
        library->ReleaseTLibAttr(attr);

        for (const GUID* described : {&IID_IHyDataSource, &IID_IHyProperty, &IID_IEnumHyProperty,
                                      &IID_IHyDeviceControl, &IID_IHyLogWnd, &CLSID_DiVORorazivo}) {
            com_ptr<ITypeInfo> info;
            EXPECT_EQ(library->GetTypeInfoOfGuid(*described, info.put()), S_OK);
        }
        for (const GUID* outside : {&IID_IHyEnsembleDisp, &IID_IHyCommSetup}) {
            com_ptr<ITypeInfo> info;
            EXPECT_EQ(library->GetTypeInfoOfGuid(*outside, info.put()), TYPE_E_ELEMENTNOTFOUND);
        }
        // IHyDataSource has its eleven members in their fixed order.
        com_ptr<ITypeInfo> source;
        ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IHyDataSource, source.put()), S_OK);
        const wchar_t* members[] = {L"GetClassID",    L"EnumItems",    L"GetLong",
                                    L"GetPoint",      L"GetString",    L"GetDescription",
                                    L"GetDimensions", L"GetMaxExtent", L"GetRealTime",
                                    L"SetRealTime",   L"SetExtensions"};
        for (UINT i = 0; i < 11; ++i) {
            FUNCDESC* f = nullptr;
            ASSERT_EQ(source->GetFuncDesc(i, &f), S_OK);
            BSTR member = nullptr;
            ASSERT_EQ(source->GetDocumentation(f->memid, &member, nullptr, nullptr, nullptr), S_OK);
            EXPECT_STREQ(member, members[i]);
            SysFreeString(member);
            source->ReleaseFuncDesc(f);
        }
    }
    CoUninitialize();
}

} // namespace
