// A host as users write one: the class registered and created by ProgID through the COM runtime,
// ensembles loaded through IPersistStream from file and memory streams, and every item read
// compared with what the core gives for the same bytes.
#include "com_support.h"

#include "common/date_time_format_win.h"
#include "common/memory_stream.h"
#include "datasource/item_strings.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/item_values.h"

namespace {

using namespace hyd::comtest;
namespace b = hyd::build;
using hyd::com_ptr;

class HostTest : public com_test {
  protected:
    void SetUp() override {
        com_test::SetUp();
        ASSERT_EQ(dll.register_server(), S_OK);
    }
    com_ptr<IPersistStream> create() {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(L"Hyd.DiVORorazivo", &clsid), S_OK);
        com_ptr<IPersistStream> made;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPersistStream,
                                   made.put_void()),
                  S_OK);
        return made;
    }
    com_ptr<IStream> on_file(const b::bytes& bytes) {
        hyd::unique_handle file(
            CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        WriteFile(file.get(), bytes.data(), DWORD(bytes.size()), &written, nullptr);
        file.reset();
        com_ptr<IStream> stream;
        EXPECT_EQ(SHCreateStreamOnFileEx(std::wstring(path.begin(), path.end()).c_str(), STGM_READ,
                                         0, FALSE, nullptr, stream.put()),
                  S_OK);
        return stream;
    }
    hyd_dll dll;
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

TEST_F(HostTest, ItemsThroughFileAndMemoryStreamsEqualTheCore) {
    const b::bytes one = b::sample_ensemble(1, 30), two = b::sample_ensemble(2, 4, false, 7);
    b::variable_leader long_leader;
    long_leader.size = 1100;
    b::fixed_leader old, up;
    old.firmware_major = 8, old.firmware_minor = 12, old.cells = up.cells = 3;
    up.config |= 0x80; // beams up
    const std::int32_t vel[12] = {1, -2, 3, -4, 5, -6, 7, -8, 9, -10, 11, -32768};
    const auto with = [&](const b::fixed_leader& f) {
        return b::ensemble_builder().add(f).add(b::variable_leader{}).profile(0x0100, vel).build();
    };
    const std::pair<const char*, b::bytes> samples[] = {
        {"clean", b::concat({one, two, b::sample_ensemble(3, 12, true, 3)})},
        {"noise", b::concat({b::noise(1000, 4), one, b::noise(10, 5), two})},
        {"damage",
         b::concat({b::with_bad_checksum(one), two, b::with_byte4(one, 1), b::bytes{0x7F}, one})},
        {"truncated", b::concat({two, b::truncated(one, one.size() - 1)})},
        {"long leader", b::ensemble_builder().add(b::fixed_leader{}).add(long_leader).build()},
        {"old firmware, beams up, no variable leader",
         b::concat({with(old), with(up), b::ensemble_builder().add(b::fixed_leader{}).build()})},
        {"empty", {}}};
    int good = 0;
    for (const auto& [name, bytes] : samples) {
        good +=
            compare_all(create().get(), on_file(bytes).get(), bytes, std::string("file ") + name);
        good += compare_all(create().get(), memory_stream_of(bytes).get(), bytes,
                            std::string("memory ") + name);
    }
    DeleteFileA(path.c_str());
    EXPECT_EQ(good, 2 * 11);
}

TEST_F(HostTest, SaveWritesTheRecordAsReadAndAggregationIsRefused) {
    const b::bytes record = b::sample_ensemble(5, 20);
    const com_ptr<IPersistStream> persist = create();
    EXPECT_EQ(persist->Load(nullptr), E_POINTER);
    const com_ptr<IStream> out = memory_stream_of({});
    EXPECT_EQ(persist->Save(out.get(), TRUE), E_FAIL); // nothing held
    ASSERT_EQ(load_bytes(persist.get(), b::concat({b::noise(33, 9), record})), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ULARGE_INTEGER size{};
    ASSERT_EQ(persist->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, record.size());
    ASSERT_EQ(persist->Save(out.get(), FALSE), S_OK);
    b::bytes saved(record.size() + 1);
    ULONG n = 0;
    ASSERT_EQ(out->Seek({}, STREAM_SEEK_SET, nullptr), S_OK);
    out->Read(saved.data(), ULONG(saved.size()), &n);
    EXPECT_EQ(b::bytes(saved.begin(), saved.begin() + n), record);
    void* made = reinterpret_cast<void*>(1);
    EXPECT_EQ(
        CoCreateInstance(CLSID_DiVORorazivo, out.get(), CLSCTX_INPROC_SERVER, IID_IUnknown, &made),
        CLASS_E_NOAGGREGATION);
    EXPECT_EQ(made, nullptr);
}

} // namespace
