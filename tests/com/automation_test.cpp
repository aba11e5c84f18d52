// The automation faces through the real DLL: IHyEnsembleDisp's VARIANTs and SAFEARRAYs (types,
// bounds from 1, the first dimension fastest); Hyd.EnsembleFile's objects and arrays for scripts
// (its errors and its walk of a file are the automation scripts' part).
#include "common/win_raii_win.h"
#include "ensemble/ensemble_builder.h"
#include "hyd_disp.h"
#include "support/hyd_dll_win.h"

#include <fstream>

namespace {

using namespace hyd::comtest;
using hyd::com_ptr;
namespace b = hyd::build;

class AutomationTest : public com_test {
  protected:
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

// Checks the dimensions of an array variant: each runs from 1 to its count in `upper`.
void expect_bounds(const VARIANT& v, const std::vector<LONG>& upper) {
    ASSERT_EQ(SafeArrayGetDim(V_ARRAY(&v)), upper.size());
    for (UINT d = 1; d <= upper.size(); ++d) {
        LONG low = 0, high = 0;
        SafeArrayGetLBound(V_ARRAY(&v), d, &low);
        SafeArrayGetUBound(V_ARRAY(&v), d, &high);
        EXPECT_EQ(low, 1);
        EXPECT_EQ(high, upper[d - 1]);
    }
}

// The text of a single value, or of the array element at `at` (dimension 1 first).
std::wstring text_of(const VARIANT& v, std::vector<LONG> at = {}) {
    VARIANT item, text;
    VariantInit(&item);
    VariantInit(&text);
    const auto type = static_cast<VARTYPE>(V_VT(&v) & ~VT_ARRAY);
    if (!(V_VT(&v) & VT_ARRAY)) {
        VariantCopy(&item, const_cast<VARIANT*>(&v));
    } else if (SafeArrayGetElement(V_ARRAY(&v), at.data(),
                                   type == VT_VARIANT
                                       ? static_cast<void*>(&item)
                                       : static_cast<void*>(&V_UI1(&item))) == S_OK &&
               type != VT_VARIANT) {
        V_VT(&item) = type;
    }
    std::wstring out = L"(none)";
    if (VariantChangeType(&text, &item, 0, VT_BSTR) == S_OK) out = V_BSTR(&text);
    VariantClear(&item);
    VariantClear(&text);
    return out;
}

TEST_F(AutomationTest, ItemsLabelsAndTextsComeAsAutomationTypes) {
    com_ptr<IHyDataSource> source;
    create(CLSID_DiVORorazivo, IID_IHyDataSource, source);
    ASSERT_EQ(load_bytes(source.get(), record()), S_OK);
    com_ptr<IHyEnsembleDisp> disp;
    ASSERT_EQ(source->QueryInterface(IID_IHyEnsembleDisp, disp.put_void()), S_OK);
    using method = HRESULT (STDMETHODCALLTYPE IHyEnsembleDisp::*)(long, VARIANT*);
    const method item = &IHyEnsembleDisp::GetItemVariant, labels = &IHyEnsembleDisp::GetItemLabels;
    const struct {
        method call;
        long id;
        HRESULT hr;
        VARTYPE vt;
        std::vector<LONG> upper; // array dimensions; none for a single value
        std::vector<LONG> at;    // the element checked
        const wchar_t* text;
    } cases[] = {
        {item, 7002, S_OK, VT_EMPTY, {}, {}, L""},
        {item, 7150, E_INVALIDARG, VT_EMPTY, {}, {}, L""},
        {item, 7113, S_OK, VT_UI1, {}, {}, L"6"},
        {item, 7129, S_OK, VT_I2, {}, {}, L"-567"},
        {item, 7114, S_OK, VT_I4, {}, {}, L"60"},
        {item, 7322, S_OK, VT_R8, {}, {}, L"3735928559"},
        {item, 7149, S_OK, VT_BSTR, {}, {}, L"001AFF030000007E"},
        {item, 7510, S_OK, VT_ARRAY | VT_I2, {4, 1}, {2, 1}, L"12"},
        {item, 7509, S_OK, VT_ARRAY | VT_I4, {4, 1}, {4, 1}, L"2004"},
        {item, 7321, S_OK, VT_ARRAY | VT_UI1, {8, 1}, {8, 1}, L"17"},
        {item, 7701, S_OK, VT_ARRAY | VT_I2, {4, 6}, {2, 1}, L"-2"},
        {item, 7921, S_OK, VT_ARRAY | VT_I4, {4, 6}, {4, 6}, L"-24"},
        {item, 7801, S_OK, VT_ARRAY | VT_I2, {6}, {3}, L"3"},
        {labels, 7701, S_OK, VT_ARRAY | VT_BSTR, {4}, {4}, L"Error Vel"},
        {labels, 7801, S_OK, VT_BSTR, {}, {}, L"Beam 5"},
        {labels, 7113, S_OK, VT_EMPTY, {}, {}, L""},
        {&IHyEnsembleDisp::GetResourceText, 5008, S_OK, VT_BSTR, {}, {}, L"Bottom Track Data"},
    };
    for (const auto& c : cases) {
        VARIANT v;
        V_VT(&v) = VT_BSTR; // not freed: the VARIANT is out only
        ASSERT_EQ((disp.get()->*c.call)(c.id, &v), c.hr) << c.id;
        EXPECT_EQ(V_VT(&v), c.vt) << c.id;
        if (c.vt & VT_ARRAY) expect_bounds(v, c.upper);
        EXPECT_EQ(text_of(v, c.at), c.text) << c.id;
        EXPECT_EQ(VariantClear(&v), S_OK) << c.id; // arrays come unlocked
    }
    VARIANT v;
    V_VT(&v) = VT_I4;
    EXPECT_EQ(disp->GetResourceText(1, &v), E_INVALIDARG);
    EXPECT_EQ(V_VT(&v), VT_I4); // untouched
}

TEST_F(AutomationTest, EnsembleFileHandsOutUsualEnsemblesAndArraysScriptsCanIndex) {
    const std::string path = program_folder() + "hyd_automation_test.sne";
    const b::bytes one = record();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(one.data()), std::streamsize(one.size()));
    com_ptr<IHyEnsembleFile> file;
    create(CLSID_EnsembleFile, IID_IHyEnsembleFile, file);
    EXPECT_EQ(dll.can_unload_now(), S_FALSE); // a live object holds the module
    com_ptr<ISupportErrorInfo> support;
    ASSERT_EQ(file->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHyEnsembleFile), S_OK);
    UINT infos = 0;
    EXPECT_EQ(file->GetTypeInfoCount(&infos), S_OK);
    EXPECT_EQ(infos, 1u);
    BSTR name = SysAllocString(std::wstring(path.begin(), path.end()).c_str());
    ASSERT_EQ(file->Open(name), S_OK);
    SysFreeString(name);
    com_ptr<IHyEnsembleDisp> first;
    ASSERT_EQ(file->Next(first.put()), S_OK);
    // The library's usual ensemble object, holding the record as read.
    com_ptr<IPersistStream> persist;
    ASSERT_EQ(first->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);
    ULARGE_INTEGER size{};
    ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, one.size());

    // VariantArray keeps the shape: element (2, 1) is still beam 2 of cell 0.
    VARIANT typed, plain;
    ASSERT_EQ(first->GetItemVariant(7701, &typed), S_OK);
    ASSERT_EQ(file->VariantArray(typed, &plain), S_OK);
    EXPECT_EQ(V_VT(&plain), VT_ARRAY | VT_VARIANT);
    expect_bounds(plain, {4, 6});
    EXPECT_EQ(text_of(plain, {2, 1}) + text_of(plain, {4, 6}), L"-2-24");
    EXPECT_EQ(VariantClear(&typed), S_OK);
    EXPECT_EQ(VariantClear(&plain), S_OK);
    V_VT(&typed) = VT_ARRAY | VT_DECIMAL; // elements that do not fit a VARIANT's value
    V_ARRAY(&typed) = SafeArrayCreateVector(VT_DECIMAL, 1, 2);
    EXPECT_EQ(file->VariantArray(typed, &plain), DISP_E_TYPEMISMATCH);
    VariantClear(&typed);
    file.reset();
    DeleteFileA(path.c_str());
}

} // namespace
