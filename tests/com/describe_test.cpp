// What the object offers a host that shows an ensemble as a tree, a table or a plot: the whole
// property tree walked as a tree view walks it and compared with the core's tables, the
// enumerator's contract, extents on a device context, and the report of a fault.
#include "common/date_time_format_win.h"
#include "common/memory_stream.h"
#include "common/text_win.h"
#include "datasource/properties.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/persist.h"
#include "hyd.h"
#include "support/hyd_dll_win.h"

namespace {

using namespace hyd::comtest;
using hyd::com_ptr;
constexpr long all = static_cast<long>(0x80000000u);

class DescribeTest : public com_test {
  protected:
    void SetUp() override {
        com_test::SetUp();
        com_ptr<IClassFactory> factory;
        ASSERT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory, factory.put_void()),
                  S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IHyDataSource, source.put_void()), S_OK);
    }
    void TearDown() override {
        source.reset();
        com_test::TearDown();
    }
    hyd_dll dll;
    com_ptr<IHyDataSource> source;
};

// Everything a property object tells, released afterwards.
hyd::item_property read(IHyProperty* p) {
    hyd::item_property r;
    BSTR text = nullptr;
    CLSID clsid{};
    SIZE units{};
    auto pt = [](hyd::item_point& q) { return reinterpret_cast<POINTL*>(&q); };
    p->GetSequence(&r.sequence), p->GetItem(&r.item), p->GetIndex(&r.index);
    p->GetDataType(&r.mask), p->GetDescription(&text), p->GetSourceClassID(&clsid);
    p->GetUnits(&units), p->GetMinMax(pt(r.abs_min), pt(r.abs_max), pt(r.def_min), pt(r.def_max));
    p->GetBadVal(&r.bad_flags.x, &r.bad_flags.y, pt(r.bad)), p->GetAxisDir(pt(r.axis));
    p->GetDecimalShift(pt(r.shift));
    r.units = {units.cx, units.cy};
    r.description = hyd::narrow(text);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_DiVORorazivo));
    SysFreeString(text);
    p->Release();
    return r;
}

// Lists what EnumItems gives for (sequence, item, index) and opens every entry with entries
// below it; each entry and its dimensions must be the core's.
void walk(IHyDataSource* source, const hyd::item_source& core, long sequence, long item, long index,
          int& entries) {
    const auto want = hyd::enumerate_items(core, sequence, item, index, 15);
    com_ptr<IEnumHyProperty> e;
    ASSERT_EQ(source->EnumItems(sequence, item, index, 15, e.put()), S_OK);
    std::vector<IHyProperty*> got(want.size() + 1);
    ULONG n = 0;
    EXPECT_EQ(e->Next(ULONG(got.size()), got.data(), &n), S_FALSE);
    ASSERT_EQ(n, want.size()) << item << " " << index;
    for (ULONG i = 0; i < n; ++i) {
        const hyd::item_property& w = want[i];
        EXPECT_TRUE(read(got[i]) == w) << w.item << " " << w.index << " " << w.description;
        SIZE dim{}, core_dim{};
        EXPECT_EQ(source->GetDimensions(w.item, w.index, &dim),
                  hyd::item_dimensions(core, w.item, w.index, &core_dim.cx, &core_dim.cy));
        EXPECT_TRUE(dim.cx == core_dim.cx && dim.cy == core_dim.cy) << w.item << " " << w.index;
        ++entries;
        if (w.mask & hyd::mask_children)
            walk(source, core, item == all ? w.item : w.sequence, w.item, w.index, entries);
    }
}

TEST_F(DescribeTest, TreeViewWalkMatchesTheCoreTables) {
    const std::vector<hyd::build::bytes> ensembles = {{}, hyd::build::sample_ensemble(1, 30)};
    const int expected[] = {6341, 764};
    for (std::size_t k = 0; k < ensembles.size(); ++k) {
        hyd::CSNPersist core;
        if (!ensembles[k].empty()) {
            ASSERT_EQ(load_bytes(source.get(), ensembles[k]), S_OK);
            hyd::memory_stream bytes(ensembles[k]);
            ASSERT_EQ(core.Load(bytes), S_OK);
        }
        const hyd::item_source src(core);
        int entries = 0;
        walk(source.get(), src, 0, all, all, entries);
        // The groups listed only by their own numbers, where the ensemble has them.
        for (long sequence = 5018; sequence <= 5020; ++sequence)
            if (hyd::make_property(src, 0, sequence, all, 15, 0, false).mask != 0)
                walk(source.get(), src, sequence, sequence, all, entries);
        EXPECT_EQ(entries, expected[k]) << "ensemble " << k;
    }
}

TEST_F(DescribeTest, EnumeratorNextSkipResetAndClone) {
    com_ptr<IEnumHyProperty> e, clone;
    ASSERT_EQ(source->EnumItems(5000, 5000, all, 2, e.put()), S_OK); // items 7000 to 7004
    IHyProperty* got[10] = {};
    ULONG n = 99;
    EXPECT_EQ(e->Next(2, nullptr, &n), E_POINTER);
    EXPECT_EQ(e->Next(2, got, nullptr), E_POINTER);
    EXPECT_EQ(e->Clone(nullptr), E_POINTER);
    const auto items = [&](HRESULT hr) {
        std::string s = hr == S_OK ? "" : "(short) ";
        for (ULONG i = 0; i < n; ++i) s += std::to_string(read(got[i]).item) + " ";
        return s;
    };
    EXPECT_EQ(items(e->Next(1, got, &n)), "7000 ");
    EXPECT_EQ(items(e->Next(1, got, nullptr)), "7001 ");
    ASSERT_EQ(e->Clone(clone.put()), S_OK);
    EXPECT_EQ(items(e->Next(10, got, &n)), "(short) 7002 7003 7004 ");
    EXPECT_EQ(e->Skip(0), S_FALSE);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(3), S_OK);
    EXPECT_EQ(items(e->Next(2, got, &n)), "7003 7004 ");
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(0xFFFFFFFFu), S_FALSE);
    EXPECT_EQ(items(e->Next(3, got, &n)), "(short) ");

    // Enumerators are live objects; a clone keeps the entries after its source is gone.
    e.reset();
    source.reset();
    EXPECT_EQ(dll.can_unload_now(), S_FALSE);
    EXPECT_EQ(items(clone->Next(2, got, &n)), "7002 7003 ");
    clone.reset();
    EXPECT_EQ(dll.can_unload_now(), S_OK);
}

TEST_F(DescribeTest, DescriptionsAndExtentsOnADeviceContext) {
    ASSERT_EQ(load_bytes(source.get(), hyd::build::sample_ensemble(1, 30)), S_OK);
    BSTR text[2] = {};
    long n = 0;
    ASSERT_EQ(source->GetDescription(7701, all, 1, text, 1, &n), S_OK);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(hyd::narrow(text[0]), "To East");
    EXPECT_EQ(text[1], nullptr);
    SysFreeString(text[0]);
    EXPECT_EQ(source->GetDescription(7701, all, 5, text, 1, &n), E_INVALIDARG);
    EXPECT_EQ(source->GetDescription(7701, all, 0, text, 0, &n), E_INVALIDARG);

    HDC dc = CreateCompatibleDC(nullptr);
    for (const long item : {7301L, 7001L, 11000L}) {
        std::string sample;
        ASSERT_TRUE(hyd::extent_sample(item, hyd::windows_date_time_format(), &sample));
        SIZE want{}, got{};
        ASSERT_TRUE(GetTextExtentPoint32A(dc, sample.c_str(), int(sample.size()), &want));
        EXPECT_EQ(source->GetMaxExtent(item, 0, dc, &got), S_OK);
        EXPECT_TRUE(got.cx == want.cx && got.cy == want.cy && got.cx > 0) << item;
    }
    DeleteDC(dc);
    SIZE size{};
    EXPECT_EQ(source->GetMaxExtent(7301, 0, nullptr, &size), E_FAIL);
}

TEST_F(DescribeTest, FaultIsReportedAndAPendingQuitSurvivesTheBox) {
    PostQuitMessage(7);
    IEnumHyProperty* e = reinterpret_cast<IEnumHyProperty*>(1);
    EXPECT_EQ(source->EnumItems(5000, 7301, all, 2, &e), E_FAIL);
    EXPECT_EQ(e, nullptr);
    MSG quit{};
    ASSERT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 7u);
}

} // namespace
