// The automation faces through the real DLL: IHyEnsembleDisp's VARIANTs and SAFEARRAYs (types,
// bounds from 1, the first dimension fastest), labels and texts; Hyd.EnsembleFile handing out
// ensemble objects of the usual kind, converting arrays for scripts and posting error objects.
#include "com_support.h"

#include "common/result_codes.h"
#include "ensemble/ensemble_builder.h"

namespace {

using namespace hyd::comtest;
namespace b = hyd::build;

class AutomationTest : public com_test {
  protected:
    void SetUp() override {
        com_test::SetUp();
        ASSERT_TRUE(dll.loaded());
    }
    template <class T> void create(REFCLSID clsid, REFIID iid, com_ptr<T>& out) {
        com_ptr<IClassFactory> factory;
        ASSERT_EQ(dll.get_class_object(clsid, IID_IClassFactory, factory.put_void()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, iid, out.put_void()), S_OK);
    }
    hyd_dll dll;
};

// Six cells; value k of each profile is k + 1 with alternating sign.
b::bytes record() {
    b::fixed_leader f;
    f.cells = 6;
    f.heading_bias = -567;
    b::variable_leader v;
    v.error_status = 0xDEADBEEF;
    v.adc = {10, 11, 12, 13, 14, 15, 16, 17};
    b::bottom_track t;
    t.velocity = {-11, 12, -13, 14};
    t.range = {2001, 2002, 2003, 2004};
    std::vector<std::int32_t> values(24);
    for (int k = 0; k < 24; ++k) values[std::size_t(k)] = (k % 2 ? -1 : 1) * (k + 1);
    return b::ensemble_builder()
        .add(f)
        .add(v)
        .add(t)
        .profile(0x0100, values)
        .profile(0x0702, values)
        .profile(0x0A00, std::span(values).first(6))
        .build();
}

// Element at natural indices (dimension 1 first) of an array variant, as a double.
double element(const VARIANT& v, std::vector<LONG> at) {
    void* p = nullptr;
    if (SafeArrayPtrOfIndex(V_ARRAY(&v), at.data(), &p) != S_OK) return -1e9;
    switch (V_VT(&v) & ~VT_ARRAY) {
    case VT_UI1:
        return *static_cast<BYTE*>(p);
    case VT_I2:
        return *static_cast<SHORT*>(p);
    case VT_I4:
        return *static_cast<LONG*>(p);
    case VT_VARIANT:
        return V_I2(static_cast<VARIANT*>(p));
    }
    return -1e9;
}

// Checks every dimension runs from 1 to its element count.
void expect_bounds(const VARIANT& v, const std::vector<LONG>& upper, long item) {
    ASSERT_EQ(SafeArrayGetDim(V_ARRAY(&v)), upper.size()) << item;
    for (UINT d = 1; d <= upper.size(); ++d) {
        LONG low = 0, high = 0;
        SafeArrayGetLBound(V_ARRAY(&v), d, &low);
        SafeArrayGetUBound(V_ARRAY(&v), d, &high);
        EXPECT_EQ(low, 1) << item;
        EXPECT_EQ(high, upper[d - 1]) << item;
    }
}

std::wstring text_at(const VARIANT& v, LONG at) {
    BSTR s = nullptr;
    EXPECT_EQ(SafeArrayGetElement(V_ARRAY(&v), &at, &s), S_OK);
    std::wstring text(s ? s : L"");
    SysFreeString(s);
    return text;
}

TEST_F(AutomationTest, ItemsLabelsAndTextsComeAsAutomationTypes) {
    com_ptr<IHyDataSource> source;
    create(CLSID_DiVORorazivo, IID_IHyDataSource, source);
    ASSERT_EQ(load_bytes(source.get(), record()), S_OK);
    com_ptr<IHyEnsembleDisp> disp;
    ASSERT_EQ(source->QueryInterface(IID_IHyEnsembleDisp, disp.put_void()), S_OK);
    const struct {
        long item;
        VARTYPE vt;
        std::vector<LONG> upper; // per dimension; none for a single value
        std::vector<LONG> at;    // an element to check
        double value;
    } cases[] = {
        {7002, VT_EMPTY, {}, {}, 0},
        {7113, VT_UI1, {}, {}, 6},
        {7129, VT_I2, {}, {}, -567},
        {7114, VT_I4, {}, {}, 60},
        {7322, VT_R8, {}, {}, 3735928559.0},
        {7510, VT_ARRAY | VT_I2, {4, 1}, {2, 1}, 12},
        {7509, VT_ARRAY | VT_I4, {4, 1}, {4, 1}, 2004},
        {7321, VT_ARRAY | VT_UI1, {8, 1}, {8, 1}, 17},
        {7701, VT_ARRAY | VT_I2, {4, 6}, {2, 1}, -2},
        {7701, VT_ARRAY | VT_I2, {4, 6}, {1, 2}, 5},
        {7921, VT_ARRAY | VT_I4, {4, 6}, {4, 6}, -24},
        {7801, VT_ARRAY | VT_I2, {6}, {3}, 3},
    };
    for (const auto& c : cases) {
        VARIANT v;
        V_VT(&v) = VT_BSTR; // whatever the caller had is not freed: the VARIANT is out only
        ASSERT_EQ(disp->GetItemVariant(c.item, &v), S_OK) << c.item;
        EXPECT_EQ(V_VT(&v), c.vt) << c.item;
        if (c.vt & VT_ARRAY) {
            expect_bounds(v, c.upper, c.item);
            EXPECT_EQ(element(v, c.at), c.value) << c.item;
        } else if (c.vt != VT_EMPTY) {
            VARIANT real;
            VariantInit(&real);
            ASSERT_EQ(VariantChangeType(&real, &v, 0, VT_R8), S_OK);
            EXPECT_EQ(V_R8(&real), c.value) << c.item;
        }
        VariantClear(&v);
    }
    VARIANT v;
    V_VT(&v) = VT_I4;
    EXPECT_EQ(disp->GetItemVariant(7150, &v), E_INVALIDARG);
    EXPECT_EQ(V_VT(&v), VT_EMPTY);
    ASSERT_EQ(disp->GetItemVariant(7149, &v), S_OK);
    EXPECT_STREQ(V_BSTR(&v), L"001AFF030000007E");
    VariantClear(&v);

    ASSERT_EQ(disp->GetItemLabels(7701, &v), S_OK);
    ASSERT_EQ(V_VT(&v), VT_ARRAY | VT_BSTR);
    expect_bounds(v, {4}, 7701);
    const wchar_t* earth[] = {L"To East", L"To North", L"To Surface", L"Error Vel"};
    for (LONG i = 1; i <= 4; ++i) EXPECT_EQ(text_at(v, i), earth[i - 1]);
    VariantClear(&v);
    ASSERT_EQ(disp->GetItemLabels(7721, &v), S_OK);
    EXPECT_EQ(text_at(v, 4), L"Beam 4");
    VariantClear(&v);
    ASSERT_EQ(disp->GetItemLabels(7801, &v), S_OK);
    EXPECT_STREQ(V_BSTR(&v), L"Beam 5");
    VariantClear(&v);
    ASSERT_EQ(disp->GetItemLabels(7113, &v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_EMPTY);

    ASSERT_EQ(disp->GetResourceText(5008, &v), S_OK);
    EXPECT_STREQ(V_BSTR(&v), L"Bottom Track Data");
    VariantClear(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = 77;
    EXPECT_EQ(disp->GetResourceText(1, &v), E_INVALIDARG);
    EXPECT_EQ(V_VT(&v), VT_I4); // untouched
}

std::wstring posted_error() {
    com_ptr<IErrorInfo> info;
    if (GetErrorInfo(0, info.put()) != S_OK) return L"(none)";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring out(text ? text : L"");
    SysFreeString(text);
    return out;
}

TEST_F(AutomationTest, EnsembleFileHandsOutEnsemblesAndPostsItsFailures) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    const std::string path = std::string(folder) + "hyd_automation_test.sne";
    const b::bytes one = record(), two = b::sample_ensemble(2, 4);
    const b::bytes file_bytes = b::concat({one, b::with_bad_checksum(two), two});
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, file_bytes.data(), DWORD(file_bytes.size()), &written, nullptr);
    CloseHandle(h);

    com_ptr<IHyEnsembleFile> file;
    create(CLSID_EnsembleFile, IID_IHyEnsembleFile, file);
    com_ptr<ISupportErrorInfo> support;
    ASSERT_EQ(file->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHyEnsembleFile), S_OK);
    EXPECT_EQ(dll.can_unload_now(), S_FALSE); // a live object holds the module

    BSTR name = SysAllocString(std::wstring(path.begin(), path.end()).c_str());
    ASSERT_EQ(file->Open(name), S_OK);
    SysFreeString(name);
    com_ptr<IHyEnsembleDisp> first, next;
    ASSERT_EQ(file->Next(first.put()), S_OK);
    // The ensemble objects are the library's usual ones: their persistence face saves the record.
    com_ptr<IPersistStream> persist;
    ASSERT_EQ(first->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);
    auto* saved = new test_stream({});
    ASSERT_EQ(persist->Save(saved, FALSE), S_OK);
    EXPECT_EQ(saved->written, one);
    saved->Release();

    EXPECT_EQ(file->Next(next.put()), hyd::HY_E_BADENSEMBLE);
    EXPECT_EQ(posted_error(), L"The ensemble at byte " + std::to_wstring(one.size()) +
                                  L" is damaged: its checksum does not match.");
    ASSERT_EQ(file->Next(next.put()), S_OK);
    double position = 0;
    ASSERT_EQ(file->get_Position(&position), S_OK);
    EXPECT_EQ(position, double(one.size() + two.size()));
    ASSERT_EQ(file->Next(next.put()), S_OK);
    EXPECT_FALSE(next);

    // VariantArray keeps the shape: element (2, 1) is still beam 2 of cell 0.
    VARIANT typed, plain;
    ASSERT_EQ(first->GetItemVariant(7701, &typed), S_OK);
    ASSERT_EQ(file->VariantArray(typed, &plain), S_OK);
    EXPECT_EQ(V_VT(&plain), VT_ARRAY | VT_VARIANT);
    expect_bounds(plain, {4, 6}, 7701);
    EXPECT_EQ(element(plain, {2, 1}), -2);
    VariantClear(&typed);
    VariantClear(&plain);

    ASSERT_EQ(file->Close(), S_OK);
    EXPECT_EQ(file->Next(next.put()), E_UNEXPECTED);
    EXPECT_EQ(posted_error(), L"No ensemble file is open: call Open first.");
    DeleteFileA(path.c_str());
}

} // namespace
