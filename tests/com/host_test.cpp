// A host as users write one: the class registered, created by ProgID through the COM runtime,
// ensembles loaded through IPersistStream from a real file stream, from memory streams and from a
// stream of the host's own, and every item read compared with what the core reader gives for the
// same bytes.
#include "com_support.h"

#include "common/date_time_format_win.h"
#include "common/memory_stream.h"
#include "datasource/item_strings.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <shlwapi.h>

#include <string>

namespace {

using namespace hyd::comtest;
namespace b = hyd::build;

constexpr long index_all = static_cast<long>(0x80000000u);

class HostTest : public com_test {
  protected:
    void SetUp() override {
        com_test::SetUp();
        hyd_dll dll;
        ASSERT_TRUE(dll.loaded());
        ASSERT_EQ(dll.register_server(), S_OK);
    }
    void create(com_ptr<IHyDataSource>& source) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(L"Hyd.DiVORorazivo", &clsid), S_OK);
        ASSERT_TRUE(IsEqualCLSID(clsid, CLSID_DiVORorazivo));
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IHyDataSource,
                                   source.put_void()),
                  S_OK);
    }
};

std::string narrow(BSTR text) {
    const int n =
        WideCharToMultiByte(CP_ACP, 0, text, int(SysStringLen(text)), nullptr, 0, nullptr, nullptr);
    std::string s(std::size_t(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, int(SysStringLen(text)), s.data(), n, nullptr, nullptr);
    return s;
}

// Every item read through the object equals the core's read of the same record.
void expect_same_items(IHyDataSource* source, const hyd::CSNPersist& core, const std::string& at) {
    const long indices[] = {index_all, 0, 1, 3, 4, 29, 30, -1, -2, -5, -121, 1000};
    for (const hyd::item_value item : hyd::long_items()) {
        if (item == 7001) continue; // the record's address differs by nature
        for (const long index : indices) {
            for (const long max : {1L, 8L}) {
                long got[8], want[8];
                std::fill(std::begin(got), std::end(got), -77);
                std::fill(std::begin(want), std::end(want), -77);
                long got_n = -9, want_n = -9;
                const HRESULT got_hr = source->GetLong(item, index, got, max, &got_n);
                const HRESULT want_hr = hyd::get_long(core, item, index, want, max, &want_n);
                ASSERT_EQ(got_hr, want_hr) << at << " item " << item << " index " << index;
                ASSERT_EQ(got_n, want_n) << at << " item " << item << " index " << index;
                for (int k = 0; k < 8; ++k)
                    ASSERT_EQ(got[k], want[k]) << at << " item " << item << " index " << index;
            }
        }
    }
    for (int p = 0; p < hyd::profile_item_count; ++p) {
        const long item = hyd::profile_cell_item(p);
        for (const long index : {index_all, 0L, 5L, 119L, 120L, -3L}) {
            POINTL got[130];
            hyd::item_point want[130];
            std::memset(got, 0x11, sizeof got);
            std::memset(want, 0x11, sizeof want);
            long got_n = -9, want_n = -9;
            const HRESULT got_hr = source->GetPoint(item, index, got, 130, &got_n);
            const HRESULT want_hr = hyd::get_point(core, item, index, want, 130, &want_n);
            ASSERT_EQ(got_hr, want_hr) << at << " point item " << item << " index " << index;
            ASSERT_EQ(got_n, want_n) << at << " point item " << item;
            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << at << " point item " << item;
        }
    }
    for (const long item : {7149L, 11000L, 11001L}) {
        BSTR text[1] = {};
        long n = -9;
        const HRESULT got_hr = source->GetString(item, 0, text, 1, &n);
        std::string want;
        const HRESULT want_hr =
            hyd::get_item_string(core, item, hyd::windows_date_time_format(), &want);
        ASSERT_EQ(got_hr, want_hr) << at << " string item " << item;
        if (got_hr == S_OK) {
            EXPECT_EQ(n, 1);
            EXPECT_EQ(narrow(text[0]), want) << at << " string item " << item;
            SysFreeString(text[0]);
        } else {
            EXPECT_EQ(n, 0);
        }
    }
}

struct sample {
    const char* name;
    b::bytes bytes;
};

std::vector<sample> samples() {
    const b::bytes one = b::sample_ensemble(1, 30);
    const b::bytes two = b::sample_ensemble(2, 4, false, 7);
    b::variable_leader long_leader;
    long_leader.size = 1100;
    b::fixed_leader old;
    old.firmware_major = 8;
    old.firmware_minor = 12;
    old.cells = 3;
    b::fixed_leader up;
    up.config |= 0x80; // beams up
    const std::int32_t velocities[12] = {1, -2, 3, -4, 5, -6, 7, -8, 9, -10, 11, -32768};
    old.cells = 3;
    const b::bytes old_record = b::ensemble_builder()
                                    .add(old)
                                    .add(b::variable_leader{})
                                    .profile(0x0100, velocities)
                                    .build();
    up.cells = 3;
    const b::bytes up_record =
        b::ensemble_builder().add(up).add(b::variable_leader{}).profile(0x0100, velocities).build();
    const b::bytes leaders_only = b::ensemble_builder().add(b::fixed_leader{}).build();
    return {
        {"clean run", b::concat({one, two, b::sample_ensemble(3, 12, true, 3)})},
        {"noise between records", b::concat({b::noise(1000, 4), one, b::noise(10, 5), two})},
        {"bad checksum then good", b::concat({b::with_bad_checksum(one), two})},
        {"truncated", b::concat({two, b::truncated(one, one.size() - 1)})},
        {"byte 4 set", b::concat({b::with_byte4(one, 1), two})},
        {"stray sync byte", b::concat({b::bytes{0x7F}, one, two})},
        {"long variable leader",
         b::ensemble_builder().add(b::fixed_leader{}).add(long_leader).build()},
        {"old firmware, beams up", b::concat({old_record, up_record})},
        {"no variable leader", leaders_only},
        {"empty", {}},
    };
}

// Loads every record the bytes hold, through the object and through the core side by side;
// counts the loads that held a good record, so a test can tell that items were really compared.
void compare_all(IHyDataSource* source, IStream* stream, const sample& s, const char* kind,
                 int& good_loads) {
    com_ptr<IPersistStream> persist;
    ASSERT_EQ(source->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);
    hyd::memory_stream bytes(s.bytes);
    hyd::CSNPersist core;
    for (int load = 0; load < 10; ++load) {
        const std::string at =
            std::string(kind) + " / " + s.name + " / load " + std::to_string(load);
        const HRESULT got = persist->Load(stream);
        const HRESULT want = core.Load(bytes);
        ASSERT_EQ(got, want) << at;
        if (SUCCEEDED(got)) ++good_loads;
        expect_same_items(source, core, at);
        if (got == hyd::HY_E_ENDOFDATA || got == E_FAIL) break;
    }
}

TEST_F(HostTest, ItemsThroughAFileStreamEqualTheCore) {
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    int good_loads = 0;
    for (const sample& s : samples()) {
        const std::string path = std::string(folder) + "hyd_host_test.sne";
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, s.bytes.data(), DWORD(s.bytes.size()), &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(written, s.bytes.size());

        com_ptr<IStream> stream;
        const std::wstring wide(path.begin(), path.end());
        ASSERT_EQ(SHCreateStreamOnFileEx(wide.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE,
                                         FILE_ATTRIBUTE_NORMAL, FALSE, nullptr, stream.put()),
                  S_OK);
        com_ptr<IHyDataSource> source;
        create(source);
        compare_all(source.get(), stream.get(), s, "file", good_loads);
        stream.reset();
        DeleteFileA(path.c_str());
    }
    EXPECT_EQ(good_loads, 13);
}

TEST_F(HostTest, ItemsThroughMemoryStreamsEqualTheCore) {
    int good_loads = 0;
    for (const sample& s : samples()) {
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, s.bytes.size() + 1);
        ASSERT_NE(memory, nullptr);
        if (!s.bytes.empty()) std::memcpy(GlobalLock(memory), s.bytes.data(), s.bytes.size());
        GlobalUnlock(memory);
        com_ptr<IStream> stream;
        ASSERT_EQ(CreateStreamOnHGlobal(memory, TRUE, stream.put()), S_OK);
        ULARGE_INTEGER size;
        size.QuadPart = s.bytes.size();
        ASSERT_EQ(stream->SetSize(size), S_OK);
        com_ptr<IHyDataSource> source;
        create(source);
        compare_all(source.get(), stream.get(), s, "hglobal", good_loads);

        // The same through a stream that cannot seek: only the position is lost.
        auto* own = new test_stream(s.bytes);
        own->seekable = false;
        com_ptr<IHyDataSource> other;
        create(other);
        compare_all(other.get(), own, s, "no seek", good_loads);
        own->Release();
    }
    EXPECT_EQ(good_loads, 26);
}

TEST_F(HostTest, StreamFailuresGiveTheReadersResults) {
    const b::bytes record = b::sample_ensemble(1, 30);
    const struct {
        const char* what;
        int short_read_at;
        int fail_read_at;
        HRESULT expected;
    } cases[] = {
        // Reads: 1 and 2 the sync bytes, 3 the byte count, 4 byte 4, 5 the body.
        {"short sync read", 1, 0, hyd::HY_E_ENDOFDATA},
        {"short count read", 3, 0, hyd::HY_E_ENDOFDATA},
        {"short body read", 5, 0, hyd::HY_E_ENDOFDATA},
        {"failing sync read", 0, 2, STG_E_READFAULT},
        {"failing body read", 0, 5, STG_E_READFAULT},
        {"clean", 0, 0, S_OK},
    };
    for (const auto& c : cases) {
        com_ptr<IHyDataSource> source;
        create(source);
        com_ptr<IPersistStream> persist;
        ASSERT_EQ(source->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);
        auto* stream = new test_stream(record);
        stream->short_read_at = c.short_read_at;
        stream->fail_read_at = c.fail_read_at;
        EXPECT_EQ(persist->Load(stream), c.expected) << c.what;
        stream->Release();
    }
    // A failing read code of the host's own choosing comes back unchanged.
    com_ptr<IHyDataSource> source;
    create(source);
    com_ptr<IPersistStream> persist;
    ASSERT_EQ(source->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);
    auto* stream = new test_stream(record);
    stream->fail_read_at = 1;
    stream->read_error = E_ACCESSDENIED;
    EXPECT_EQ(persist->Load(stream), E_ACCESSDENIED);
    stream->Release();
    EXPECT_EQ(persist->Load(nullptr), E_POINTER);
}

TEST_F(HostTest, SavedEnsembleIsTheRecordAsRead) {
    const b::bytes record = b::sample_ensemble(5, 20);
    com_ptr<IHyDataSource> source;
    create(source);
    com_ptr<IPersistStream> persist;
    ASSERT_EQ(source->QueryInterface(IID_IPersistStream, persist.put_void()), S_OK);

    auto* out = new test_stream({});
    EXPECT_EQ(persist->Save(out, TRUE), E_FAIL); // nothing held yet
    ULARGE_INTEGER size;
    size.QuadPart = 99;
    ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 0u);

    auto* in = new test_stream(b::concat({b::noise(33, 9), record}));
    ASSERT_EQ(persist->Load(in), S_OK);
    in->Release();
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, record.size());
    ASSERT_EQ(persist->Save(out, FALSE), S_OK);
    EXPECT_EQ(out->written, record);
    out->Release();
    EXPECT_EQ(persist->GetSizeMax(nullptr), E_POINTER);
}

TEST_F(HostTest, RuntimeRefusesAggregationToo) {
    auto* outer = new test_stream({});
    IUnknown* made = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_DiVORorazivo, outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&made)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(made, nullptr);
    outer->Release();
}

} // namespace
