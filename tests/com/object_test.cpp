// The DiVORorazivo object and the module around it, through the real DLL's exports: class
// factory, module lock, QueryInterface and reference counting, extensions and the real time.
#include "com_support.h"

#include "ensemble/ensemble_builder.h"

#include <ocidl.h>

#include <thread>

namespace {

using namespace hyd::comtest;
namespace b = hyd::build;

constexpr long index_all = static_cast<long>(0x80000000u);

class ObjectTest : public com_test {
  protected:
    void SetUp() override {
        com_test::SetUp();
        ASSERT_TRUE(dll.loaded());
        ASSERT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory, factory.put_void()),
                  S_OK);
    }
    // A new object, asked for IHyDataSource (its first reference).
    void create(com_ptr<IHyDataSource>& source) {
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IHyDataSource, source.put_void()), S_OK);
    }

    hyd_dll dll;
    com_ptr<IClassFactory> factory;
};

b::bytes timed_ensemble(std::uint8_t year, std::uint8_t hundredths) {
    b::variable_leader v;
    v.year = year;
    v.month = 12;
    v.day = 31;
    v.hour = 23;
    v.minute = 58;
    v.second = 59;
    v.hundredths = hundredths;
    return b::ensemble_builder().add(b::fixed_leader{}).add(v).build();
}

// The DLL is loaded fresh here, so the threads race for the very first factory.
TEST(ClassFactory, ConcurrentFirstRequestsShareOneCachedFactory) {
    hyd_dll dll;
    ASSERT_TRUE(dll.loaded());
    constexpr int threads = 8;
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    IUnknown* got[threads] = {};
    HRESULT results[threads] = {};
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i)
        pool.emplace_back([&, i] {
            WaitForSingleObject(go, INFINITE);
            results[i] = dll.get_class_object(CLSID_DiVORorazivo, IID_IUnknown,
                                              reinterpret_cast<void**>(&got[i]));
        });
    SetEvent(go);
    for (auto& t : pool) t.join();
    CloseHandle(go);

    IUnknown* later = nullptr;
    ASSERT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory,
                                   reinterpret_cast<void**>(&later)),
              S_OK);
    for (int i = 0; i < threads; ++i) {
        EXPECT_EQ(results[i], S_OK);
        EXPECT_EQ(got[i], later) << "thread " << i;
        if (got[i]) got[i]->Release();
    }
    later->Release();
}

TEST_F(ObjectTest, ClassObjectRequestsAreChecked) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.get_class_object(IID_IHyDataSource, IID_IClassFactory, &out),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IClassFactory, nullptr), E_POINTER);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.get_class_object(CLSID_DiVORorazivo, IID_IHyDataSource, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
}

TEST_F(ObjectTest, AggregationIsRefusedWhateverTheInterface) {
    auto* outer = new test_stream({});
    for (const IID* riid : {&IID_IUnknown, &IID_IHyDataSource, &IID_IPersistStream}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(factory->CreateInstance(outer, *riid, &out), CLASS_E_NOAGGREGATION);
        EXPECT_EQ(out, nullptr);
    }
    outer->Release();
    EXPECT_EQ(dll.can_unload_now(), S_OK);
}

TEST_F(ObjectTest, ReferenceCountStartsAtZeroAndIsShared) {
    com_ptr<IHyDataSource> source;
    create(source);
    // The creating QueryInterface took the first reference.
    EXPECT_EQ(source->AddRef(), 2u);
    EXPECT_EQ(source->Release(), 1u);
    com_ptr<IPersistStream> persist;
    ASSERT_EQ(source->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);
    EXPECT_EQ(persist->AddRef(), 3u);
    EXPECT_EQ(source->Release(), 2u);
}

TEST_F(ObjectTest, QueryInterfaceAnswersItsTableAndNothingElse) {
    com_ptr<IHyDataSource> source;
    create(source);
    IUnknown* identity = nullptr;
    ASSERT_EQ(source->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(source.get()));

    const IID* faces[] = {&IID_IHyDataSource,    &IID_IPersistStream,  &IID_IHyDeviceControl,
                          &IID_IHyCommSetup,     &IID_IHyEnsembleDisp, &IID_IDispatch,
                          &IID_ISupportErrorInfo};
    for (const IID* riid : faces) {
        IUnknown* face = nullptr;
        ASSERT_EQ(source->QueryInterface(*riid, reinterpret_cast<void**>(&face)), S_OK);
        ASSERT_NE(face, nullptr);
        IUnknown* back = nullptr;
        ASSERT_EQ(face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back, identity);
        back->Release();
        face->Release();
    }
    void* disp = nullptr;
    void* dual = nullptr;
    ASSERT_EQ(source->QueryInterface(IID_IDispatch, &disp), S_OK);
    ASSERT_EQ(source->QueryInterface(IID_IHyEnsembleDisp, &dual), S_OK);
    EXPECT_EQ(disp, dual);
    static_cast<IUnknown*>(disp)->Release();
    static_cast<IUnknown*>(dual)->Release();

    for (const IID* riid : {&IID_IPersist, &IID_IClassFactory, &IID_IHyProperty,
                            &IID_IPersistStreamInit, &IID_IHyLogWnd}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(source->QueryInterface(*riid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(source->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    // Every successful answer added exactly one reference, and each was given back.
    EXPECT_EQ(identity->Release(), 1u);
}

TEST_F(ObjectTest, LiveObjectsAndServerLocksKeepTheModuleLoaded) {
    EXPECT_EQ(dll.can_unload_now(), S_OK); // the cached factory does not count
    {
        com_ptr<IHyDataSource> source;
        create(source);
        EXPECT_EQ(dll.can_unload_now(), S_FALSE);
    }
    EXPECT_EQ(dll.can_unload_now(), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(dll.can_unload_now(), S_FALSE);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(dll.can_unload_now(), S_OK);
    // A creation whose interface request fails leaves no object behind.
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(dll.can_unload_now(), S_OK);
}

TEST_F(ObjectTest, ClassIdentifierFromBothFaces) {
    com_ptr<IHyDataSource> source;
    create(source);
    CLSID id{};
    ASSERT_EQ(source->GetClassID(&id), S_OK);
    EXPECT_TRUE(IsEqualCLSID(id, CLSID_DiVORorazivo));
    com_ptr<IPersistStream> persist;
    ASSERT_EQ(source->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);
    id = {};
    ASSERT_EQ(persist->GetClassID(&id), S_OK);
    EXPECT_TRUE(IsEqualCLSID(id, CLSID_DiVORorazivo));
}

TEST_F(ObjectTest, ErrorInfoIsClaimedOnlyForTheAutomationFace) {
    com_ptr<IHyDataSource> source;
    create(source);
    com_ptr<ISupportErrorInfo> support;
    ASSERT_EQ(source->QueryInterface(IID_ISupportErrorInfo, support.put_void()), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHyEnsembleDisp), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IHyDataSource), S_FALSE);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST_F(ObjectTest, DispatchReportsTheAutomationLibraryLoadFailure) {
    com_ptr<IHyDataSource> source;
    create(source);
    com_ptr<IDispatch> disp;
    ASSERT_EQ(source->QueryInterface(IID_IDispatch, disp.put_void()), S_OK);
    UINT count = 0;
    EXPECT_EQ(disp->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(disp->GetTypeInfo(0, 0, nullptr), E_POINTER);
    // The automation library of IHyEnsembleDisp is registered apart from this module; without it
    // the dispatch members give the loading failure itself.
    ITypeLib* library = nullptr;
    const HRESULT expected = LoadRegTypeLib(LIBID_HydDisp, 1, 0, 0, &library);
    ASSERT_TRUE(FAILED(expected));
    ITypeInfo* info = nullptr;
    EXPECT_EQ(disp->GetTypeInfo(0, 0, &info), expected);
    EXPECT_EQ(info, nullptr);
    OLECHAR name[] = L"GetItemVariant";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    EXPECT_EQ(disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id), expected);
    DISPPARAMS none{};
    EXPECT_EQ(disp->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              expected);
}

TEST_F(ObjectTest, MembersOfLaterWorkAnswerNotImplemented) {
    com_ptr<IHyDataSource> source;
    create(source);
    IEnumHyProperty* e = reinterpret_cast<IEnumHyProperty*>(1);
    EXPECT_EQ(source->EnumItems(0, index_all, index_all, 1, &e), E_NOTIMPL);
    EXPECT_EQ(e, nullptr);
    BSTR text[1] = {};
    long n = 0;
    EXPECT_EQ(source->GetDescription(7701, index_all, 0, text, 1, &n), E_NOTIMPL);
    SIZE size{};
    EXPECT_EQ(source->GetDimensions(7701, index_all, &size), E_NOTIMPL);
    EXPECT_EQ(source->GetMaxExtent(7701, index_all, nullptr, &size), E_NOTIMPL);

    com_ptr<IHyEnsembleDisp> disp;
    ASSERT_EQ(source->QueryInterface(IID_IHyEnsembleDisp, disp.put_void()), S_OK);
    VARIANT v;
    v.vt = VT_I4;
    EXPECT_EQ(disp->GetItemVariant(7113, &v), E_NOTIMPL);
    EXPECT_EQ(v.vt, VT_EMPTY);
}

TEST_F(ObjectTest, ExtensionsSeeSuccessfulCallsWithTheCallersFilledBuffer) {
    com_ptr<IHyDataSource> source;
    create(source);
    ASSERT_EQ(load_bytes(source.get(), b::sample_ensemble(1, 30)), S_OK);
    recording_source first, second;
    first.rewrite = 4242;
    IHyDataSource* list[] = {&first, &second};
    ASSERT_EQ(source->SetExtensions(list, 2), S_OK);

    long values[4] = {-1, -1, -1, -1};
    long count = -1;
    ASSERT_EQ(source->GetLong(7113, index_all, values, 4, &count), S_OK);
    ASSERT_EQ(first.calls.size(), 1u);
    ASSERT_EQ(second.calls.size(), 1u);
    const auto& seen = first.calls[0];
    EXPECT_STREQ(seen.member, "GetLong");
    EXPECT_EQ(seen.item, 7113);
    EXPECT_EQ(seen.index, index_all);
    EXPECT_EQ(seen.buffer, values);
    EXPECT_EQ(seen.max, 4);
    EXPECT_EQ(seen.actual, &count);
    EXPECT_EQ(seen.first_value, 30); // already filled: 30 depth cells
    EXPECT_EQ(seen.count, 1);
    // The second extension sees what the first left; the caller gets the result of both.
    EXPECT_EQ(second.calls[0].first_value, 4242);
    EXPECT_EQ(values[0], 4242);

    // Failures and S_FALSE are not passed on.
    EXPECT_EQ(source->GetLong(12345, 0, values, 4, &count), E_INVALIDARG);
    EXPECT_EQ(source->GetLong(7701, index_all, values, 4, &count), S_FALSE);
    EXPECT_EQ(source->GetPoint(7113, 0, reinterpret_cast<POINTL*>(values), 2, &count),
              E_INVALIDARG);
    EXPECT_EQ(first.calls.size(), 1u);

    POINTL points[8] = {};
    ASSERT_EQ(source->GetPoint(7701, 0, points, 8, &count), S_OK);
    ASSERT_EQ(first.calls.size(), 2u);
    EXPECT_STREQ(first.calls[1].member, "GetPoint");
    EXPECT_EQ(first.calls[1].buffer, points);
    EXPECT_EQ(first.calls[1].count, 8);

    // The date reads its fields through the object's own GetLong, so the extensions see those
    // reads, then the GetString call with the text already in place. (An extension that rewrote
    // the month would spoil the date, so this one stops rewriting.)
    first.rewrite = 0;
    BSTR text[1] = {};
    ASSERT_EQ(source->GetString(11000, 0, text, 1, &count), S_OK);
    ASSERT_EQ(first.calls.size(), 6u);
    EXPECT_EQ(first.calls[2].item, 7303);
    EXPECT_EQ(first.calls[3].item, 7304);
    EXPECT_EQ(first.calls[4].item, 7302);
    EXPECT_STREQ(first.calls[5].member, "GetString");
    EXPECT_EQ(first.calls[5].buffer, text);
    EXPECT_EQ(first.calls[5].first_value, long(SysStringLen(text[0])));
    EXPECT_EQ(first.calls[5].count, 1);
    SysFreeString(text[0]);
    EXPECT_EQ(source->GetString(7301, 0, text, 1, &count), E_INVALIDARG);
    EXPECT_EQ(first.calls.size(), 6u);
    ASSERT_EQ(source->SetExtensions(nullptr, 0), S_OK);
}

TEST_F(ObjectTest, ExtensionListHoldsOneReferencePerEntry) {
    recording_source a, b2;
    {
        com_ptr<IHyDataSource> source;
        create(source);
        IHyDataSource* list[] = {&a, &b2};
        ASSERT_EQ(source->SetExtensions(list, 2), S_OK);
        EXPECT_EQ(a.refs, 2u);
        ASSERT_EQ(source->SetExtensions(list, 2), S_OK);
        EXPECT_EQ(a.refs, 2u);
        EXPECT_EQ(b2.refs, 2u);
        ASSERT_EQ(source->SetExtensions(list, 1), S_OK);
        EXPECT_EQ(b2.refs, 1u);
        ASSERT_EQ(source->SetExtensions(nullptr, 0), S_OK);
        EXPECT_EQ(a.refs, 1u);
        ASSERT_EQ(source->SetExtensions(list, 2), S_OK);
        long values[1];
        long count = 0;
        // Nothing loaded: GetLong fails, nothing is forwarded.
        EXPECT_EQ(source->GetLong(7113, index_all, values, 1, &count), E_FAIL);
        EXPECT_TRUE(a.calls.empty());
    }
    // Destroying the object releases its extensions.
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b2.refs, 1u);
}

TEST_F(ObjectTest, RealTimeComesFromTheEnsembleUntilOneIsStored) {
    const struct {
        std::uint8_t year;
        std::uint8_t hundredths;
        WORD full_year;
        WORD milliseconds;
    } cases[] = {{79, 57, 2079, 570}, {80, 0, 1980, 0}, {0, 99, 2000, 990}, {99, 1, 1999, 10}};
    for (const auto& c : cases) {
        com_ptr<IHyDataSource> source;
        create(source);
        ASSERT_EQ(load_bytes(source.get(), timed_ensemble(c.year, c.hundredths)), S_OK);
        SYSTEMTIME st;
        std::memset(&st, 0xAB, sizeof st);
        ASSERT_EQ(source->GetRealTime(&st), S_OK);
        EXPECT_EQ(st.wYear, c.full_year) << int(c.year);
        EXPECT_EQ(st.wMonth, 12);
        EXPECT_EQ(st.wDay, 31);
        EXPECT_EQ(st.wHour, 23);
        EXPECT_EQ(st.wMinute, 58);
        EXPECT_EQ(st.wSecond, 59);
        EXPECT_EQ(st.wMilliseconds, c.milliseconds);
        EXPECT_EQ(st.wDayOfWeek, 0xABAB); // never written

        // A stored time without month and day does not count.
        SYSTEMTIME stored{};
        stored.wYear = 1234;
        stored.wHour = 7;
        ASSERT_EQ(source->SetRealTime(&stored), S_OK);
        ASSERT_EQ(source->GetRealTime(&st), S_OK);
        EXPECT_EQ(st.wYear, c.full_year);
        // One with a month or a day is returned as stored, every field.
        for (const bool use_day : {false, true}) {
            stored = {2001, WORD(use_day ? 0 : 4), 3, WORD(use_day ? 9 : 0), 1, 2, 3, 4};
            ASSERT_EQ(source->SetRealTime(&stored), S_OK);
            ASSERT_EQ(source->GetRealTime(&st), S_OK);
            EXPECT_EQ(std::memcmp(&st, &stored, sizeof st), 0);
        }
    }
}

TEST_F(ObjectTest, RealTimeWithoutAnEnsembleFailsAndLeavesTheOutputAlone) {
    com_ptr<IHyDataSource> source;
    create(source);
    SYSTEMTIME st;
    std::memset(&st, 0x5A, sizeof st);
    const SYSTEMTIME before = st;
    EXPECT_EQ(source->GetRealTime(&st), E_FAIL);
    EXPECT_EQ(std::memcmp(&st, &before, sizeof st), 0);
}

} // namespace
