// The DiVORorazivo object and the module around it, through the real DLL's exports: class factory,
// module lock, QueryInterface and reference counting, IDispatch, extensions and the real time.
#include "com_support.h"

#include "ensemble/ensemble_builder.h"

#include <climits>

namespace {

using namespace hyd::comtest;
namespace b = hyd::build;
using hyd::com_ptr;

class ObjectTest : public com_test {
  protected:
    void SetUp() override {
        com_test::SetUp();
        ASSERT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory, factory.put_void()),
                  S_OK);
    }
    com_ptr<IHyDataSource> create() {
        com_ptr<IHyDataSource> made;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IHyDataSource, made.put_void()), S_OK);
        return made;
    }
    hyd_dll dll;
    com_ptr<IClassFactory> factory;
};

TEST_F(ObjectTest, FactoryAggregationAndTheModuleLock) {
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

TEST_F(ObjectTest, OneIdentityOneCountAndTheFacesOfItsTable) {
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

TEST_F(ObjectTest, ExtensionsSeeSuccessfulCallsWithTheCallersFilledBuffer) {
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
            {7113, values, 4, &count, 30, 1},
            {7701, points, 8, &count, points[0].x, 8},
            {7303, nullptr, 1, nullptr, 12, 1},
            {7304, nullptr, 1, nullptr, 5, 1},
            {7302, nullptr, 1, nullptr, 26, 1},
            {11000, text, 1, &count, long(SysStringLen(text[0])), 1}};
        ASSERT_EQ(first.calls.size(), std::size(want));
        for (std::size_t i = 0; i < std::size(want); ++i) {
            const auto& [item, buffer, max, actual, value, n] = first.calls[i];
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

TEST_F(ObjectTest, RealTimeComesFromTheEnsembleUntilOneWithMonthOrDayIsStored) {
    SYSTEMTIME st;
    EXPECT_EQ(create()->GetRealTime(&st), E_FAIL);
    // Two-digit year, hundredths; the year and milliseconds of the real time.
    for (const auto& [year, hundredths, full_year, ms] :
         {std::tuple<int, int, WORD, WORD>{79, 57, 2079, 570},
          {80, 0, 1980, 0},
          {0, 99, 2000, 990}}) {
        b::variable_leader v;
        v.year = std::uint8_t(year), v.month = 12, v.day = 31, v.hour = 23, v.minute = 58;
        v.second = 59, v.hundredths = std::uint8_t(hundredths);
        const com_ptr<IHyDataSource> source = create();
        ASSERT_EQ(
            load_bytes(source.get(), b::ensemble_builder().add(b::fixed_leader{}).add(v).build()),
            S_OK);
        SYSTEMTIME stored{1234, 0, 0, 0, 7, 0, 0, 0}; // without month and day: not counted
        ASSERT_EQ(source->SetRealTime(&stored), S_OK);
        std::memset(&st, 0xAB, sizeof st);
        ASSERT_EQ(source->GetRealTime(&st), S_OK);
        const SYSTEMTIME want{full_year, 12, 0xABAB, 31, 23, 58, 59, ms};
        EXPECT_EQ(std::memcmp(&st, &want, sizeof st), 0) << year;
        for (SYSTEMTIME kept :
             {SYSTEMTIME{2001, 4, 3, 0, 1, 2, 3, 4}, SYSTEMTIME{2001, 0, 3, 9, 1, 2, 3, 4}}) {
            ASSERT_EQ(source->SetRealTime(&kept), S_OK);
            ASSERT_EQ(source->GetRealTime(&st), S_OK);
            EXPECT_EQ(std::memcmp(&st, &kept, sizeof st), 0);
        }
    }
}

} // namespace
