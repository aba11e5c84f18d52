// The reader over byte strings: one table of streams (leading garbage, bad checksum, bad length,
// interrupted and run-on records, end of data mid-record, minimal records, failing reads) drives
// Load with the result, the reason, where the record started, what is held and what the next Load
// finds; then LoadLast, Save and the offset table.
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"
#include "ensemble/persist.h"
#include "support/fault_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace hyd {
namespace {

using build::bytes;
using build::concat;
using r = load_reason;

// Records whose bytes hold no 0x7F but the sync pair, so what follows a damaged one is found.
const bytes g = build::ensemble_builder().add(bytes{0x12, 0x34, 1, 2, 3, 4}).build();
std::uint32_t size(const bytes& b) {
    return static_cast<std::uint32_t>(b.size());
}
const auto n = size(g);

bytes record_of_size(std::size_t total) {
    bytes pad(total - 12, 0);
    pad[0] = 0x34;
    return build::ensemble_builder().add(pad).build();
}

// The variable leader first, so that it is found at index 0.
bytes with_leader(std::size_t variable_bytes, std::uint32_t number = 1) {
    build::variable_leader v;
    v.size = variable_bytes;
    v.ensemble_number = number;
    return build::ensemble_builder().add(v).add(build::fixed_leader{}).build();
}

bytes zeros(std::size_t count) {
    return bytes(count, 0);
}

struct LoadCase {
    std::string name;
    bytes stream;
    hresult hr;
    load_reason why;
    std::int64_t start; // last_start(); also the position when a record is held
    std::uint32_t held; // bytes held, 0 for none
    hresult next;       // the following Load
    std::int64_t next_at;
    int short_read = 0, failed_read = 0; // 1-based read call: 1, 2 sync; 3 count; 4 byte 4; 5 body
    bool seekable = true;
};

void PrintTo(const LoadCase& c, std::ostream* os) {
    *os << c.name;
}

class Load : public ::testing::TestWithParam<LoadCase> {};

TEST_P(Load, ResultReasonStartHeldBytesAndTheNextLoad) {
    const LoadCase& c = GetParam();
    build::fault_stream s(c.stream);
    s.short_read_at = c.short_read, s.fail_read_at = c.failed_read, s.seekable = c.seekable;
    CSNPersist p;
    EXPECT_EQ(p.Load(s), c.hr);
    EXPECT_EQ(p.last_reason(), c.why);
    EXPECT_EQ(p.last_start(), c.start);
    EXPECT_EQ(p.position(), c.held ? c.start : -1);
    std::uint64_t size = 1;
    EXPECT_EQ(p.GetSizeMax(&size), s_ok);
    EXPECT_EQ(size, c.held);
    std::uint32_t held = 1;
    const std::uint8_t* bytes_held = p.GetBuffer(&held);
    ASSERT_EQ(held, c.held);
    ASSERT_EQ(bytes_held != nullptr, c.held != 0);
    if (c.held && c.start >= 0 && !c.short_read && !c.failed_read) { // what arrived, then zeros
        const std::size_t from = static_cast<std::size_t>(c.start);
        const std::size_t arrived = std::min<std::size_t>(c.held, c.stream.size() - from);
        EXPECT_EQ(bytes(bytes_held, bytes_held + held),
                  concat({{c.stream.data() + from, arrived}, zeros(c.held - arrived)}));
    }
    EXPECT_EQ(p.Load(s), c.next);
    EXPECT_EQ(p.position(), c.next_at);
}

std::vector<LoadCase> load_cases() {
    const bytes leader_1024 = with_leader(1024), leader_1025 = with_leader(1025);
    const auto stray =
        0x7F + 256 * (n - 2) + 2; // count from the sync byte and the count's low byte
    const std::int64_t k = n / 2;
    const hresult eod = HY_E_ENDOFDATA, bad = HY_E_BADENSEMBLE, read_fault = hresult_from_win32(30);
    return {
        {"RunOnRecords", concat({g, g}), s_ok, r::loaded, 0, n, s_ok, n},
        {"LeadingGarbage", concat({build::noise(1000, 1), g}), s_ok, r::loaded, 1000, n, eod, -1},
        {"SyncByteThenOther", concat({bytes{0x7F, 0x00}, g}), s_ok, r::loaded, 2, n, eod, -1},
        {"Empty", {}, eod, r::end_of_data, -1, 0, eod, -1},
        {"OnlyGarbage", build::noise(500, 2), eod, r::end_of_data, -1, 0, eod, -1},
        {"SearchLimitNotReached", concat({zeros(131070), g}), s_ok, r::loaded, 131070, n, eod, -1},
        {"SearchLimitReached", concat({zeros(131071), g, g}), e_fail, r::no_sync, -1, 0, s_ok,
         131071 + n},
        {"SearchLimitPerAttempt", concat({zeros(100000), bytes{0x7F, 0}, zeros(100000), g}), s_ok,
         r::loaded, 200002, n, eod, -1},
        {"Byte4Set", concat({build::with_byte4(g, 1), g}), bad, r::too_long, 0, 0, s_ok, n},
        {"TenThousandBytes", record_of_size(10000), s_ok, r::loaded, 0, 10000, eod, -1},
        {"OneByteTooLong", concat({record_of_size(10001), g}), bad, r::too_long, 0, 0, s_ok, 10001},
        {"CountTooSmall", concat({build::with_byte_count(g, 5), g}), bad, r::too_short, 0, 0, s_ok,
         n},
        {"HeaderAndChecksumOnly", {0x7F, 0x7F, 6, 0, 0, 0, 4, 1}, s_ok, r::loaded, 0, 8, eod, -1},
        {"EmptyEnvelope", {0x7F, 0x7F, 8, 0, 0, 0, 0, 0, 6, 1}, s_ok, r::loaded, 0, 10, eod, -1},
        {"ChecksumOffByOne", concat({build::with_bad_checksum(g), g}), bad, r::bad_checksum, 0, n,
         s_ok, n},
        {"StraySyncByteSmallCount", concat({bytes{0x7F}, g, build::noise(6000, 3)}), bad,
         r::bad_checksum, 0, stray, eod, -1},
        {"StraySyncByteLargeCount", concat({bytes{0x7F}, record_of_size(612), g}), bad, r::too_long,
         0, 0, s_ok, 613},
        {"CutShortAtTheEnd", build::truncated(g, n - 1), eod, r::cut_short, 0, n, eod, -1},
        {"InterruptedByTheNext", concat({build::truncated(g, k), g, g}), bad, r::bad_checksum, 0, n,
         s_ok, k + n},
        {"EndInsideTheCount", build::truncated(g, 3), eod, r::end_of_data, 0, 0, eod, -1},
        {"VariableLeaderOf1024", leader_1024, s_ok, r::loaded, 0, size(leader_1024), eod, -1},
        {"VariableLeaderOf1025", leader_1025, HY_S_LONGLEADER, r::loaded, 0, size(leader_1025), eod,
         -1},
        {"Unseekable", concat({build::noise(10, 4), g}), s_ok, r::loaded, -1, n, eod, -1, 0, 0,
         false},
        {"ShortFirstSyncRead", g, eod, r::end_of_data, -1, 0, s_ok, 0, 1},
        {"ShortSecondSyncRead", g, eod, r::end_of_data, -1, 0, eod, -1, 2},
        {"ShortCountRead", g, eod, r::end_of_data, 0, 0, eod, -1, 3},
        {"ShortByte4Read", g, eod, r::end_of_data, 0, 0, eod, -1, 4},
        {"ShortBodyRead", g, eod, r::cut_short, 0, n, eod, -1, 5},
        {"FailedSyncRead", g, read_fault, r::read_failed, -1, 0, s_ok, 0, 0, 1},
        {"FailedBodyRead", g, read_fault, r::read_failed, 0, n, eod, -1, 0, 5},
    };
}

INSTANTIATE_TEST_SUITE_P(Streams, Load, ::testing::ValuesIn(load_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(LoadLast, FindsTheLastCompleteRecordPassingLongLeaders) {
    const bytes a = with_leader(65, 1), b = with_leader(65, 2), c = with_leader(65, 3),
                long_b = with_leader(1100, 2);
    const struct {
        bytes stream;
        hresult hr;
        std::uint16_t number; // of the record held; 0 for none
    } rows[] = {
        {{}, e_fail, 0},
        {concat({a, b}), s_ok, 2},
        {concat({a, b, build::truncated(c, c.size() / 2)}), s_ok, 2},
        {concat({a, long_b, build::truncated(c, c.size() / 2)}), s_ok, 1},
        {long_b, HY_S_LONGLEADER, 2},
        {concat({build::noise(200, 3), a, build::noise(130, 4)}), s_ok, 1},
        {build::truncated(a, 40), HY_E_ENDOFDATA, 1}, // the partial record stays
        {build::noise(10, 1), HY_E_ENDOFDATA, 0},
        {{0x7F}, HY_E_ENDOFDATA, 0},
    };
    for (const auto& row : rows) {
        build::fault_stream s(row.stream);
        CSNPersist p;
        EXPECT_EQ(p.LoadLast(s), row.hr) << row.number;
        const std::uint8_t* leader = p.GetType(0x0080);
        EXPECT_EQ(leader ? leader[2] : 0, row.number);
    }
    build::fault_stream unseekable(g);
    unseekable.seekable = false;
    CSNPersist p;
    EXPECT_EQ(p.LoadLast(unseekable), e_notimpl);
}

TEST(Save, WritesTheRecordAsReadOrFails) {
    CSNPersist p;
    memory_stream out;
    EXPECT_EQ(p.Save(out, false), e_fail); // nothing held
    for (const bytes& record : {g, record_of_size(10000), with_leader(1100)}) {
        memory_stream in(concat({build::noise(5, 1), record}));
        ASSERT_TRUE(succeeded(p.Load(in)));
        memory_stream copy;
        EXPECT_EQ(p.Save(copy, true), s_ok);
        EXPECT_EQ(copy.bytes(), record);
        EXPECT_EQ(p.IsDirty(), s_false);
    }
    build::fault_stream short_sink({});
    short_sink.write_limit = 3;
    EXPECT_EQ(p.Save(short_sink, false), e_fail);
    build::fault_stream failing_sink({});
    failing_sink.write_error = hresult_from_win32(112);
    EXPECT_EQ(p.Save(failing_sink, false), hresult_from_win32(112));
    guid id{};
    EXPECT_EQ(p.GetClassID(&id), e_notimpl);
}

// A reader whose offsets and byte count count from `origin` instead of the first header byte.
struct shifted_reader : CSNPersist {
    explicit shifted_reader(std::uint32_t origin) : origin(origin) {}
    std::uint32_t GetOffsetOrigin() const override { return origin; }
    std::uint32_t origin;
};

// A record of `length` bytes before its checksum with a hand-written offset table.
bytes table_record(std::vector<std::uint16_t> offsets, std::uint16_t length,
                   std::uint16_t origin = 0) {
    bytes b(length + 2u, 0);
    b[0] = b[1] = 0x7F;
    write_u16(b.data() + 2, static_cast<std::uint16_t>(length + origin));
    b[5] = static_cast<std::uint8_t>(offsets.size());
    for (std::size_t i = 0; i < offsets.size() && 8 + 2 * i <= length; ++i)
        write_u16(b.data() + 6 + 2 * i, static_cast<std::uint16_t>(offsets[i] + origin));
    build::fix_checksum(b);
    return b;
}

TEST(Lookup, EntriesOutsideTheRecordAreAbsent) {
    const struct {
        const char* name;
        bytes record;
        int index;
        bool present;
        int size;
        std::uint16_t origin = 0;
    } rows[] = {
        // N = 2, L = 40: data types at 10 (20 bytes) and 30 (40 - 2 - 30 = 8 bytes).
        {"first", table_record({10, 30}, 40), 0, true, 20},
        {"last", table_record({10, 30}, 40), 1, true, 8},
        {"index N", table_record({10, 30}, 40), 2, false, 0},
        {"index -1", table_record({10, 30}, 40), -1, false, 0},
        {"ID word at the last place", table_record({10, 38}, 40), 1, true, 0},
        {"ID word past the count", table_record({10, 39}, 40), 1, false, 0},
        {"far outside", table_record({10, 0xFFF0}, 40), 1, false, 0},
        {"into the header", table_record({10, 5}, 40), 1, false, 0},
        {"at the header's end", table_record({10, 6}, 40), 1, true, 32},
        {"next entry far off: clamped", table_record({10, 0xFFF0}, 40), 0, true, 30},
        {"decreasing", table_record({30, 10}, 40), 0, true, 0},
        {"next entry overlaps the checksum", table_record({7, 7}, 9), 0, true, 0},
        {"table longer than the record", table_record({8, 8, 8, 8}, 10), 2, false, 0},
        {"first, origin 3", table_record({10, 30}, 40, 3), 0, true, 20, 3},
        {"last, origin 1", table_record({10, 30}, 40, 1), 1, true, 9, 1},
    };
    for (const auto& row : rows) {
        memory_stream s(row.record);
        shifted_reader p(row.origin);
        ASSERT_EQ(p.Load(s), s_ok) << row.name;
        EXPECT_EQ(p.GetTypeAt(row.index) != nullptr, row.present) << row.name;
        EXPECT_EQ(p.GetTypeSize(row.index), row.size) << row.name;
    }
}

} // namespace
} // namespace hyd
