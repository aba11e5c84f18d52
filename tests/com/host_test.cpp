// The DiVORorazivo object as hosts meet it: created by ProgID, loaded from file and memory streams
// and read as the core reads the same bytes; its factory, identity, extensions and real time.
#include "common/date_time_format_win.h"
#include "common/memory_stream.h"
#include "common/string_table.h"
#include "common/win_raii_win.h"
#include "datasource/item_strings.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/item_values.h"
#include "hyd_disp.h"
#include "support/hyd_dll_win.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <climits>
#include <cstring>
#include <fstream>

namespace {

using hyd::com_ptr;
using namespace hyd::comtest;
namespace b = hyd::build;

// An extension data source that records what each forwarded call shows it and can rewrite the
// first value, as an extension that corrects data would.
class recording_source final : public IHyDataSource {
  public:
    struct call { // first: pLong[0], ppt[0].x or the text's length; count: *pcActual as seen
        long item, max, first, count;
        const void* buffer;
        long* actual;
    };
    std::vector<call> calls;
    long rewrite = 0; // when non-zero, GetLong/GetPoint put this in the first element
    ULONG refs = 1;

    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; } // lives on the test's stack
    STDMETHODIMP GetLong(long nItem, long, long* pLong, long cMax, long* pcActual) override {
        calls.push_back({nItem, cMax, pLong[0], *pcActual, pLong, pcActual});
        if (rewrite) pLong[0] = rewrite;
        return E_FAIL; // ignored by the caller
    }
    STDMETHODIMP GetPoint(long nItem, long, POINTL* ppt, long cMax, long* pcActual) override {
        calls.push_back({nItem, cMax, ppt[0].x, *pcActual, ppt, pcActual});
        return E_FAIL;
    }
    STDMETHODIMP GetString(long nItem, long, BSTR* pbstr, long cMax, long* pcActual) override {
        calls.push_back({nItem, cMax, long(SysStringLen(pbstr[0])), *pcActual, pbstr, pcActual});
        return S_FALSE;
    }
    STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumItems(long, long, long, long, IEnumHyProperty**) override { return E_NOTIMPL; }
    STDMETHODIMP GetDescription(long, long, long, BSTR*, long, long*) override { return E_NOTIMPL; }
    STDMETHODIMP GetDimensions(long, long, SIZE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMaxExtent(long, long, HDC, SIZE*) override { return E_NOTIMPL; }
    STDMETHODIMP GetRealTime(SYSTEMTIME*) override { return E_NOTIMPL; }
    STDMETHODIMP SetRealTime(SYSTEMTIME*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtensions(IHyDataSource**, long) override { return E_NOTIMPL; }
};

// COM for each test (multithreaded: the class is "both"), the class registered, its factory.
class ComTest : public hyd::comtest::com_test {
  protected:
    void SetUp() override {
        com_test::SetUp();
        ASSERT_EQ(dll.register_server(), S_OK);
        ASSERT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory, factory.put_void()),
                  S_OK);
    }
    void TearDown() override {
        factory.reset();
        com_test::TearDown();
    }
    // By ProgID through the COM runtime, as hosts create it.
    com_ptr<IPersistStream> create_by_progid() {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(L"Hyd.DiVORorazivo", &clsid), S_OK);
        com_ptr<IPersistStream> made;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistStream,
                                   made.put_void()),
                  S_OK);
        return made;
    }
    com_ptr<IHyDataSource> create() {
        com_ptr<IHyDataSource> made;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IHyDataSource, made.put_void()), S_OK);
        return made;
    }
    com_ptr<IStream> on_file(const b::bytes& bytes) {
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        com_ptr<IStream> stream;
        EXPECT_EQ(SHCreateStreamOnFileA(path.c_str(), STGM_READ, stream.put()), S_OK);
        return stream;
    }
    hyd_dll dll;
    com_ptr<IClassFactory> factory;
    const std::string path = program_folder() + "host_test.sne";
};

// Every item read through the object equals the core's read of the same record.
void expect_same_items(IHyDataSource* source, const hyd::CSNPersist& core, const std::string& at) {
    for (const long item : hyd::long_items()) {
        for (const long index :
             {hyd::HY_INDEX_ALL, 0L, 1L, 3L, 4L, 29L, 30L, 119L, -1L, -5L, -121L}) {
            for (const long max : {1L, 8L, 64L}) {
                long got[130], want[130], got_n = -9, want_n = -9;
                std::fill_n(got, 130, -77);
                std::fill_n(want, 130, -77);
                const bool cell = hyd::profile_item_index(item, true) >= 0 && max != 8;
                const HRESULT got_hr =
                    cell
                        ? source->GetPoint(item, index, reinterpret_cast<POINTL*>(got), max, &got_n)
                        : source->GetLong(item, index, got, max, &got_n);
                const HRESULT want_hr =
                    cell ? hyd::get_point(core, item, index,
                                          reinterpret_cast<hyd::item_point*>(want), max, &want_n)
                         : hyd::get_long(core, item, index, want, max, &want_n);
                ASSERT_TRUE(
                    (got_hr == want_hr && got_n == want_n && std::equal(got, got + 130, want)) ||
                    item == 7001) // the record's address differs by nature
                    << at << " item " << item << " index " << index;
            }
        }
    }
    for (const long item : {7149L, 11000L, 11001L}) {
        BSTR text[1] = {};
        long n = -9;
        const HRESULT hr = source->GetString(item, 0, text, 1, &n);
        std::string want;
        ASSERT_EQ(hr, hyd::get_item_string(core, item, hyd::windows_date_time_format(), &want))
            << at << item;
        EXPECT_EQ(n, hr == S_OK);
        const std::wstring wide = text[0] ? text[0] : L"";
        EXPECT_EQ(std::string(wide.begin(), wide.end()), hr == S_OK ? want : "") << at << item;
        SysFreeString(text[0]);
    }
}

// Loads every record of `bytes` through the object and the core side by side, comparing the
// results and every item; returns how many loads held a good record.
int compare_all(IPersistStream* persist, IStream* stream, const b::bytes& bytes,
                const std::string& at) {
    com_ptr<IHyDataSource> source;
    EXPECT_EQ(persist->QueryInterface(IID_IHyDataSource, source.put_void()), S_OK);
    hyd::memory_stream core_stream(bytes);
    hyd::CSNPersist core;
    int good = 0;
    for (int load = 0; load < 10; ++load) {
        const HRESULT got = persist->Load(stream);
        EXPECT_EQ(got, core.Load(core_stream)) << at << " load " << load;
        good += SUCCEEDED(got);
        expect_same_items(source.get(), core, at + " load " + std::to_string(load));
        if (got == hyd::HY_E_ENDOFDATA || got == E_FAIL) break;
    }
    return good;
}

TEST_F(ComTest, ItemsThroughFileAndMemoryStreamsEqualTheCore) {
    const b::bytes one = b::sample_ensemble(1, 30), two = b::sample_ensemble(2, 4, false, 7);
    b::variable_leader long_leader;
    long_leader.size = 1100;
    const std::pair<const char*, b::bytes> samples[] = {
        {"noise", b::concat({b::noise(1000, 4), one, b::noise(10, 5), two})},
        {"damage",
         b::concat({b::with_bad_checksum(one), two, b::with_byte4(one, 1), b::bytes{0x7F}, one})},
        {"truncated", b::concat({two, b::truncated(one, one.size() - 1)})},
        {"long leader, no variable leader",
         b::concat({b::ensemble_builder().add(b::fixed_leader{}).add(long_leader).build(),
                    b::ensemble_builder().add(b::fixed_leader{}).build()})},
        {"empty", {}}};
    int good = 0;
    for (const auto& [name, bytes] : samples) {
        good += compare_all(create_by_progid().get(), on_file(bytes).get(), bytes,
                            std::string("file ") + name);
        good += compare_all(create_by_progid().get(), memory_stream_of(bytes).get(), bytes,
                            std::string("memory ") + name);
    }
    DeleteFileA(path.c_str());
    EXPECT_EQ(good, 2 * 6);
}

TEST_F(ComTest, SaveWritesTheRecordAsRead) {
    const b::bytes record = b::sample_ensemble(5, 20);
    const com_ptr<IPersistStream> persist = create_by_progid();
    const com_ptr<IStream> out = memory_stream_of({});
    ULARGE_INTEGER size{};
    ASSERT_EQ(load_bytes(persist.get(), b::concat({b::noise(33, 9), record})), S_OK);
    ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, record.size());
    ASSERT_EQ(persist->Save(out.get(), FALSE), S_OK);
    b::bytes saved(record.size() + 1);
    ASSERT_EQ(out->Seek({}, STREAM_SEEK_SET, nullptr), S_OK);
    out->Read(saved.data(), ULONG(saved.size()), &size.LowPart);
    EXPECT_EQ(b::bytes(saved.begin(), saved.begin() + size.LowPart), record);
}

TEST_F(ComTest, FactoryAggregationAndTheModuleLock) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.get_class_object(IID_IHyDataSource, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    com_ptr<IUnknown> again;
    ASSERT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IUnknown, again.put_void()), S_OK);
    EXPECT_EQ(again.get(), static_cast<IUnknown*>(factory.get())); // one cached factory
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(memory_stream_of({}).get(), IID_IUnknown, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, &out), E_NOINTERFACE);
    // Nothing is left behind, and the cached factory does not count; live objects and locks do.
    EXPECT_EQ(dll.can_unload_now(), S_OK);
    com_ptr<IHyDataSource> live = create();
    EXPECT_EQ(dll.can_unload_now(), S_FALSE);
    live.reset();
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(dll.can_unload_now(), S_FALSE);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(dll.can_unload_now(), S_OK);
}

TEST_F(ComTest, OneIdentityOneCountAndTheFacesOfItsTable) {
    const com_ptr<IHyDataSource> source = create();
    const IID* faces[] = {&IID_IUnknown,         &IID_IHyDataSource,    &IID_IPersistStream,
                          &IID_IHyDeviceControl, &IID_IHyCommSetup,     &IID_IHyEnsembleDisp,
                          &IID_IDispatch,        &IID_ISupportErrorInfo};
    for (const IID* riid : faces) {
        com_ptr<IUnknown> face, back;
        ASSERT_EQ(source->QueryInterface(*riid, face.put_void()), S_OK);
        ASSERT_EQ(face->QueryInterface(IID_IUnknown, back.put_void()), S_OK);
        EXPECT_EQ(back.get(), static_cast<IUnknown*>(source.get()));
    }
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(source->QueryInterface(IID_IPersist, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(source->AddRef(), 2u); // the first request took the first reference; all are back
    source->Release();
    com_ptr<IPersistStream> persist;
    ASSERT_EQ(source->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);
    CLSID id{};
    ASSERT_EQ(persist->GetClassID(&id), S_OK);
    EXPECT_EQ(id, CLSID_DiVORorazivo);
    com_ptr<ISupportErrorInfo> support;
    ASSERT_EQ(source->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHyEnsembleDisp), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHyDataSource), S_FALSE);
    // The automation library is registered apart from this module; without it the dispatch
    // members give the loading failure itself.
    com_ptr<IDispatch> disp;
    ASSERT_EQ(source->QueryInterface(IID_IDispatch, disp.put_void()), S_OK);
    com_ptr<ITypeLib> automation;
    const HRESULT missing = LoadRegTypeLib(LIBID_HydDisp, 1, 0, 0, automation.put());
    ASSERT_TRUE(FAILED(missing));
    com_ptr<ITypeInfo> info;
    EXPECT_EQ(disp->GetTypeInfo(0, 0, info.put()), missing);
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
              missing);
}

TEST_F(ComTest, ExtensionsSeeSuccessfulCallsWithTheCallersFilledBuffer) {
    recording_source first, second;
    {
        const com_ptr<IHyDataSource> source = create();
        IHyDataSource* list[] = {&first, &second};
        ASSERT_EQ(source->SetExtensions(list, 2), S_OK);
        ASSERT_EQ(source->SetExtensions(list, 2), S_OK); // still one reference per entry
        EXPECT_EQ(first.refs + second.refs, 4u);
        long values[4] = {}, count = -1;
        EXPECT_EQ(source->GetLong(7113, 0, values, 4, &count), E_FAIL); // nothing held
        ASSERT_EQ(load_bytes(source.get(), b::sample_ensemble(1, 30)), S_OK);
        first.rewrite = 4242;
        ASSERT_EQ(source->GetLong(7113, 0, values, 4, &count), S_OK);
        EXPECT_EQ(values[0], 4242); // the caller gets what the extensions left
        EXPECT_EQ(second.calls.at(0).first, 4242);
        first.rewrite = 0;
        POINTL points[8] = {};
        BSTR text[1] = {};
        ASSERT_EQ(source->GetPoint(7701, 0, points, 8, &count), S_OK);
        EXPECT_EQ(source->GetLong(7701, LONG_MIN, values, 4, &count), S_FALSE); // not passed on
        EXPECT_EQ(source->GetPoint(7113, 0, points, 2, &count), E_INVALIDARG);
        // The date reads its fields through the object's own GetLong, so the extensions see
        // those reads, then the GetString call with the text in place.
        ASSERT_EQ(source->GetString(11000, 0, text, 1, &count), S_OK);
        const recording_source::call want[] = {
            {7113, 4, 30, 1, values, &count},
            {7701, 8, points[0].x, 8, points, &count},
            {7303, 1, 12, 1, nullptr, nullptr},
            {7304, 1, 5, 1, nullptr, nullptr},
            {7302, 1, 26, 1, nullptr, nullptr},
            {11000, 1, long(SysStringLen(text[0])), 1, text, &count}};
        ASSERT_EQ(first.calls.size(), std::size(want));
        for (std::size_t i = 0; i < std::size(want); ++i) {
            const auto& [item, max, value, n, buffer, actual] = first.calls[i];
            EXPECT_EQ((std::vector<long>{item, max, value, n}),
                      (std::vector<long>{want[i].item, want[i].max, want[i].first, want[i].count}));
            EXPECT_TRUE(!want[i].buffer || (buffer == want[i].buffer && actual == want[i].actual));
        }
        SysFreeString(text[0]);
        ASSERT_EQ(source->SetExtensions(list, 1), S_OK);
        EXPECT_EQ(second.refs, 1u);
    }
    EXPECT_EQ(first.refs, 1u); // the object released its extensions
}

TEST_F(ComTest, RealTimeComesFromTheEnsembleUntilOneWithMonthOrDayIsStored) {
    SYSTEMTIME st;
    EXPECT_EQ(create()->GetRealTime(&st), E_FAIL);
    for (const std::uint8_t year : {79, 80}) { // 2079 and 1980
        b::variable_leader v;
        v.year = year, v.month = 12, v.day = 31, v.hour = 23, v.minute = 58, v.second = 59;
        v.hundredths = 57;
        const com_ptr<IHyDataSource> source = create();
        ASSERT_EQ(
            load_bytes(source.get(), b::ensemble_builder().add(b::fixed_leader{}).add(v).build()),
            S_OK);
        SYSTEMTIME kept{1234, 0, 0, 0, 7, 0, 0, 0}; // without month and day: not counted
        ASSERT_EQ(source->SetRealTime(&kept), S_OK);
        std::memset(&st, 0xAB, sizeof st);
        ASSERT_EQ(source->GetRealTime(&st), S_OK);
        const SYSTEMTIME want{WORD(year < 80 ? 2079 : 1980), 12, 0xABAB, 31, 23, 58, 59, 570};
        EXPECT_EQ(std::memcmp(&st, &want, sizeof st), 0) << year;
        kept = year < 80 ? SYSTEMTIME{2001, 4, 3, 0, 1, 2, 3, 4}
                         : SYSTEMTIME{2001, 0, 3, 9, 1, 2, 3, 4};
        ASSERT_EQ(source->SetRealTime(&kept), S_OK);
        ASSERT_EQ(source->GetRealTime(&st), S_OK);
        EXPECT_EQ(std::memcmp(&st, &kept, sizeof st), 0);
    }
}

// The DLL's string table, built from the same source as the portable lookup (its type library is
// registered and read back by the regsvr32 round trip).
TEST(Resources, StringTableMatchesThePortableTable) {
    hyd_dll dll;
    char text[512];
    for (const hyd::string_entry& e : hyd::string_table_entries()) {
        const int n = LoadStringA(dll.module.get(), UINT(e.id), text, sizeof text);
        EXPECT_EQ(std::string(text, std::size_t(std::max(n, 0))), e.text) << e.id;
    }
    for (const UINT id : {8900u, 8901u, 8902u, 7150u}) // absent numbers load as empty texts
        EXPECT_EQ(LoadStringA(dll.module.get(), id, text, sizeof text), 0) << id;
}

} // namespace
