// The DLL's resources: the string table built from the same source as the portable lookup, and
// the type library with what it must and must not describe.
#include "com_support.h"

#include "common/string_table.h"

namespace {

using namespace hyd::comtest;
using hyd::com_ptr;

TEST_F(com_test, StringTableAndTypeLibrary) {
    hyd_dll dll;
    char text[512];
    for (const hyd::string_entry& e : hyd::string_table_entries()) {
        const int n = LoadStringA(dll.module.get(), UINT(e.id), text, sizeof text);
        EXPECT_EQ(std::string(text, std::size_t(std::max(n, 0))), e.text) << e.id;
    }
    for (const UINT id : {8900u, 8901u, 8902u, 7150u}) // absent numbers load as empty texts
        EXPECT_EQ(LoadStringA(dll.module.get(), id, text, sizeof text), 0) << id;

    const std::string path = program_folder() + "Hyd.dll";
    com_ptr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLib(std::wstring(path.begin(), path.end()).c_str(), library.put()), S_OK);
    hyd::unique_bstr name, doc;
    ASSERT_EQ(library->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr), S_OK);
    EXPECT_STREQ(name.get(), L"HYD");
    EXPECT_STREQ(doc.get(), L"Hyd 1.0 Type Library");
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, LIBID_HYD);
    EXPECT_EQ(attr->wMajorVerNum * 10 + attr->wMinorVerNum, 10);
    library->ReleaseTLibAttr(attr);
    const std::pair<const GUID*, HRESULT> rows[] = {{&IID_IHyDataSource, S_OK},
                                                    {&IID_IHyProperty, S_OK},
                                                    {&IID_IEnumHyProperty, S_OK},
                                                    {&IID_IHyDeviceControl, S_OK},
                                                    {&IID_IHyLogWnd, S_OK},
                                                    {&CLSID_DiVORorazivo, S_OK},
                                                    {&IID_IHyEnsembleDisp, TYPE_E_ELEMENTNOTFOUND},
                                                    {&IID_IHyCommSetup, TYPE_E_ELEMENTNOTFOUND}};
    for (const auto& [guid, hr] : rows) {
        com_ptr<ITypeInfo> info;
        EXPECT_EQ(library->GetTypeInfoOfGuid(*guid, info.put()), hr);
    }
    // IHyDataSource has its eleven members in their fixed order.
    com_ptr<ITypeInfo> source;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IHyDataSource, source.put()), S_OK);
    std::wstring members;
    for (UINT i = 0; i < 12; ++i) {
        FUNCDESC* f = nullptr;
        if (FAILED(source->GetFuncDesc(i, &f))) break;
        hyd::unique_bstr member;
        source->GetDocumentation(f->memid, member.put(), nullptr, nullptr, nullptr);
        members += std::wstring(member.get()) + L" ";
        source->ReleaseFuncDesc(f);
    }
    EXPECT_EQ(members, L"GetClassID EnumItems GetLong GetPoint GetString GetDescription "
                       L"GetDimensions GetMaxExtent GetRealTime SetRealTime SetExtensions ");
}

} // namespace
