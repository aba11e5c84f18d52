// Framing, checking, holding and saving ensembles.
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"
#include "ensemble/persist.h"
#include "support/fault_stream.h"

#include <gtest/gtest.h>

#include <string>

namespace hyd {
namespace {

using build::bytes;

bytes record_of_size(std::size_t total) {
    // Fixed and variable leader plus one unknown data type padded to reach `total` bytes.
    build::ensemble_builder b;
    b.add(build::fixed_leader{}).add(build::variable_leader{});
    const std::size_t base = b.build().size() + 2; // one more table entry
    bytes pad(total - base, 0);
    pad[0] = 0x34;
    pad[1] = 0x12;
    b.add(pad);
    bytes r = b.build();
    EXPECT_EQ(r.size(), total);
    return r;
}

const bytes& sample() {
    static const bytes r = build::sample_ensemble(7);
    return r;
}

bytes repeat(std::uint8_t value, std::size_t n) {
    return bytes(n, value);
}

struct FindCase {
    std::string name;
    bytes stream;
    hresult result;
    std::int64_t position;
    std::uint32_t held; // bytes held afterwards
};

void PrintTo(const FindCase& c, std::ostream* os) {
    *os << c.name;
}

class FindRecord : public ::testing::TestWithParam<FindCase> {};

TEST_P(FindRecord, ResultPositionAndHeldBytes) {
    const FindCase& c = GetParam();
    memory_stream s(c.stream);
    CSNPersist p;
    EXPECT_EQ(p.Load(s), c.result);
    EXPECT_EQ(p.position(), c.position);
    EXPECT_EQ(p.record_size(), c.held);
    std::uint64_t size = 99;
    EXPECT_EQ(p.GetSizeMax(&size), s_ok);
    EXPECT_EQ(size, c.held);
}

std::vector<FindCase> find_cases() {
    const bytes& r = sample();
    const auto n = static_cast<std::uint32_t>(r.size());
    const bytes b612 = record_of_size(612); // count 0x0262: low byte 0x62 >= 39
    const bytes b10000 = record_of_size(10000);
    const bytes b10001 = record_of_size(10001);
    const bytes short_count = build::with_byte_count(r, 5);
    // A stray sync byte in front of a record whose count's low byte is small (20): the reader takes
    // 0x7F + 256 x 20 bytes and, short of a coincidence, the checksum fails.
    const bytes small =
        build::ensemble_builder().add(bytes{0x11, 0x22, 0, 0, 0, 0, 0, 0, 0, 0}).build();
    const bytes after_small = build::noise(6000, 5);
    return {
        {"AtStart", r, s_ok, 0, n},
        {"AfterNoise", build::concat({build::noise(1000, 1), r}), s_ok, 1000, n},
        {"SecondAttempt", build::concat({bytes{0x7F, 0x01}, r}), s_ok, 2, n},
        {"StrayOversize", build::concat({bytes{0x7F}, b612}), HY_E_BADENSEMBLE, -1, 0},
        {"StrayChecksum", build::concat({bytes{0x7F}, small, after_small}), HY_E_BADENSEMBLE, 0,
         0x7F + 256u * 20 + 2},
        {"Empty", {}, HY_E_ENDOFDATA, -1, 0},
        {"OnlyNoise", build::noise(500, 2), HY_E_ENDOFDATA, -1, 0},
        {"SearchLimitBelow", build::concat({repeat(0, 131070), r}), s_ok, 131070, n},
        {"SearchLimitAt", build::concat({repeat(0, 131071), r}), e_fail, -1, 0},
        {"LimitPerAttempt",
         build::concat({repeat(0, 100000), bytes{0x7F, 0x00}, repeat(0, 100000), r}), s_ok, 200002,
         n},
        {"SizeLimitBelow", b10000, s_ok, 0, 10000},
        {"SizeLimitAbove", b10001, HY_E_BADENSEMBLE, -1, 0},
        {"Byte4Set", build::with_byte4(r, 1), HY_E_BADENSEMBLE, -1, 0},
        {"CountTooSmall", short_count, HY_E_BADENSEMBLE, -1, 0},
        {"MinimalEnvelope", bytes{0x7F, 0x7F, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x06, 0x01}, s_ok,
         0, 10},
        {"HeaderOnly", bytes{0x7F, 0x7F, 0x06, 0x00, 0x00, 0x00, 0x04, 0x01}, s_ok, 0, 8},
        {"MissingLastByte", build::truncated(r, r.size() - 1), HY_E_ENDOFDATA, 0, n},
        {"ChecksumOffByOne", build::with_bad_checksum(r), HY_E_BADENSEMBLE, 0, n},
        {"TruncatedHeader", build::truncated(r, 4), HY_E_ENDOFDATA, -1, 0},
    };
}

INSTANTIATE_TEST_SUITE_P(Load, FindRecord, ::testing::ValuesIn(find_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(Load, StrayOversizeConsumesFiveBytes) {
    const bytes b612 = record_of_size(612);
    ASSERT_EQ(read_u16(b612.data() + 2), 0x0262);
    memory_stream s(build::concat({bytes{0x7F}, b612}));
    CSNPersist p;
    EXPECT_EQ(p.Load(s), HY_E_BADENSEMBLE);
    EXPECT_EQ(s.position(), 5u);
    EXPECT_FALSE(p.holds_record());
}

TEST(Load, KeepsTheCheckedRecordByteForByte) {
    memory_stream s(sample());
    CSNPersist p;
    ASSERT_EQ(p.Load(s), s_ok);
    std::uint32_t size = 0;
    const std::uint8_t* buffer = p.GetBuffer(&size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(bytes(buffer, buffer + size), sample());
}

TEST(Load, ChecksumFailureKeepsRecordAndStreamStandsBehindIt) {
    const bytes bad = build::with_bad_checksum(build::sample_ensemble(1));
    const bytes good = build::sample_ensemble(2);
    memory_stream s(build::concat({bad, good}));
    CSNPersist p;
    EXPECT_EQ(p.Load(s), HY_E_BADENSEMBLE);
    std::uint32_t size = 0;
    const std::uint8_t* held = p.GetBuffer(&size);
    EXPECT_EQ(bytes(held, held + size), bad);
    EXPECT_EQ(s.position(), bad.size());
    EXPECT_EQ(p.Load(s), s_ok);
    EXPECT_EQ(p.position(), static_cast<std::int64_t>(bad.size()));
}

TEST(Load, ShortBodyKeepsWhatArrivedAndZeroesTheRest) {
    const bytes& r = sample();
    memory_stream s(build::truncated(r, 100));
    CSNPersist p;
    EXPECT_EQ(p.Load(s), HY_E_ENDOFDATA);
    std::uint32_t size = 0;
    const std::uint8_t* held = p.GetBuffer(&size);
    ASSERT_EQ(size, r.size());
    EXPECT_EQ(bytes(held, held + 100), build::truncated(r, 100));
    EXPECT_EQ(bytes(held + 100, held + size), bytes(size - 100, 0));
    EXPECT_EQ(p.FindType(fixed_leader_id), 0); // lookups see the partial record
}

TEST(Load, NextLoadDropsTheHeldRecord) {
    memory_stream s(build::concat({sample(), build::noise(20, 3)}));
    CSNPersist p;
    ASSERT_EQ(p.Load(s), s_ok);
    EXPECT_EQ(p.Load(s), HY_E_ENDOFDATA);
    EXPECT_FALSE(p.holds_record());
    EXPECT_EQ(p.position(), -1);
}

// Read calls of one Load: 1 first sync byte, 2 second, 3 count, 4 byte 4, 5 body.
struct ReadFault {
    int call;
    bool keeps_record;
};

void PrintTo(const ReadFault& c, std::ostream* os) {
    *os << "read " << c.call;
}

class ReadFaults : public ::testing::TestWithParam<ReadFault> {};

TEST_P(ReadFaults, ShortReadGivesEndOfData) {
    build::fault_stream s(sample());
    s.short_read_at = GetParam().call;
    CSNPersist p;
    EXPECT_EQ(p.Load(s), HY_E_ENDOFDATA);
    EXPECT_EQ(p.holds_record(), GetParam().keeps_record);
    EXPECT_EQ(p.position(), GetParam().keeps_record ? 0 : -1);
}

TEST_P(ReadFaults, FailingReadReturnsItsOwnCode) {
    build::fault_stream s(sample());
    s.fail_read_at = GetParam().call;
    CSNPersist p;
    EXPECT_EQ(p.Load(s), s.read_error);
    EXPECT_EQ(p.holds_record(), GetParam().keeps_record);
}

INSTANTIATE_TEST_SUITE_P(EachStep, ReadFaults,
                         ::testing::Values(ReadFault{1, false}, ReadFault{2, false},
                                           ReadFault{3, false}, ReadFault{4, false},
                                           ReadFault{5, true}));

TEST(Load, UnseekableStreamLoadsWithUnknownPosition) {
    build::fault_stream s(build::concat({build::noise(10, 4), sample()}));
    s.seekable = false;
    CSNPersist p;
    EXPECT_EQ(p.Load(s), s_ok);
    EXPECT_EQ(p.position(), -1);
    EXPECT_EQ(p.record_size(), sample().size());
}

TEST(Load, HostLoopResynchronisesOverDamage) {
    // The plain host loop: Load again after success or HY_E_BADENSEMBLE, stop on anything else.
    const bytes a = build::sample_ensemble(1), b = build::sample_ensemble(2),
                c = build::sample_ensemble(3);
    memory_stream s(
        build::concat({build::noise(33, 9), a, build::with_bad_checksum(b), build::noise(7, 8),
                       bytes{0x7F, 0x7F, 0x10, 0x00, 0x02}, c, build::truncated(a, 50)}));
    CSNPersist p;
    std::vector<hresult> results;
    std::vector<std::int64_t> positions;
    for (;;) {
        const hresult hr = p.Load(s);
        results.push_back(hr);
        positions.push_back(p.position());
        if (failed(hr) && hr != HY_E_BADENSEMBLE) break;
    }
    const auto at_b = static_cast<std::int64_t>(33 + a.size());
    const auto at_c = at_b + static_cast<std::int64_t>(b.size() + 7 + 5);
    EXPECT_EQ(results, (std::vector<hresult>{s_ok, HY_E_BADENSEMBLE, HY_E_BADENSEMBLE, s_ok,
                                             HY_E_ENDOFDATA}));
    EXPECT_EQ(positions, (std::vector<std::int64_t>{33, at_b, -1, at_c,
                                                    at_c + static_cast<std::int64_t>(c.size())}));
}

struct LeaderCase {
    std::size_t leader_bytes;
    hresult result;
};
void PrintTo(const LeaderCase& c, std::ostream* os) {
    *os << c.leader_bytes << " bytes";
}

class LongLeader : public ::testing::TestWithParam<LeaderCase> {};

TEST_P(LongLeader, ValidateReportsLongVariableLeader) {
    build::variable_leader v;
    v.size = GetParam().leader_bytes;
    const bytes r = build::ensemble_builder().add(build::fixed_leader{}).add(v).build();
    memory_stream s(r);
    CSNPersist p;
    EXPECT_EQ(p.Load(s), GetParam().result);
    EXPECT_TRUE(p.holds_record());
}

INSTANTIATE_TEST_SUITE_P(Sizes, LongLeader,
                         ::testing::Values(LeaderCase{65, s_ok}, LeaderCase{1024, s_ok},
                                           LeaderCase{1025, HY_S_LONGLEADER},
                                           LeaderCase{4000, HY_S_LONGLEADER}));

TEST(Validate, BaseReaderDoesNotCheckTheLeader) {
    build::variable_leader v;
    v.size = 2000;
    memory_stream s(build::ensemble_builder().add(v).build());
    CSNBasePersist p;
    EXPECT_EQ(p.Load(s), s_ok);
}

TEST(Validate, NoVariableLeaderIsFine) {
    memory_stream s(build::ensemble_builder().add(build::fixed_leader{}).build());
    CSNPersist p;
    EXPECT_EQ(p.Load(s), s_ok);
}

TEST(Save, RoundTripsByteForByte) {
    for (const bytes& r : {sample(), record_of_size(10000), build::ensemble_builder().build()}) {
        memory_stream in(build::concat({build::noise(5, 1), r}));
        CSNPersist p;
        ASSERT_EQ(p.Load(in), s_ok);
        memory_stream out;
        EXPECT_EQ(p.Save(out, true), s_ok);
        EXPECT_EQ(out.bytes(), r);
        EXPECT_EQ(p.IsDirty(), s_false);
    }
}

TEST(Save, Failures) {
    CSNPersist empty;
    memory_stream out;
    EXPECT_EQ(empty.Save(out, false), e_fail);
    std::uint64_t size = 1;
    EXPECT_EQ(empty.GetSizeMax(&size), s_ok);
    EXPECT_EQ(size, 0u);

    memory_stream in(sample());
    CSNPersist p;
    ASSERT_EQ(p.Load(in), s_ok);
    build::fault_stream short_sink({});
    short_sink.write_limit = 3;
    EXPECT_EQ(p.Save(short_sink, false), e_fail);
    build::fault_stream failing_sink({});
    failing_sink.write_error = hresult_from_win32(112); // disk full
    EXPECT_EQ(p.Save(failing_sink, false), hresult_from_win32(112));
}

TEST(Persist, FixedAnswers) {
    CSNPersist p;
    guid g{};
    EXPECT_EQ(p.GetClassID(&g), e_notimpl);
    EXPECT_EQ(p.IsDirty(), s_false);
    EXPECT_EQ(p.GetOffsetOrigin(), 0u);
    EXPECT_EQ(p.GetHeaderId(), 0x7F);
    EXPECT_EQ(p.GetSourceId(), 0x7F);
    std::uint32_t size = 5;
    EXPECT_EQ(p.GetBuffer(&size), nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(p.FindType(fixed_leader_id), -1);
    EXPECT_EQ(p.GetTypeAt(0), nullptr);
    EXPECT_EQ(p.GetTypeSize(0), 0);
}

struct LastCase {
    std::string name;
    bytes stream;
    hresult result;
    std::uint32_t ensemble; // the variable leader's number of the record held, 0 for none
};

void PrintTo(const LastCase& c, std::ostream* os) {
    *os << c.name;
}

class LoadLast : public ::testing::TestWithParam<LastCase> {};

TEST_P(LoadLast, FindsTheLastCompleteRecord) {
    const LastCase& c = GetParam();
    memory_stream s(c.stream);
    CSNPersist p;
    EXPECT_EQ(p.LoadLast(s), c.result);
    if (c.ensemble == 0) return;
    const std::uint8_t* leader = p.GetType(variable_leader_id);
    ASSERT_NE(leader, nullptr);
    EXPECT_EQ(read_u16(leader + 2), c.ensemble);
}

std::vector<LastCase> last_cases() {
    const bytes a = build::sample_ensemble(1), b = build::sample_ensemble(2),
                c = build::sample_ensemble(3);
    build::variable_leader v;
    v.ensemble_number = 2;
    v.size = 1100;
    const bytes long_b = build::ensemble_builder().add(build::fixed_leader{}).add(v).build();
    return {
        {"Empty", {}, e_fail, 0},
        {"Complete", build::concat({a, b}), s_ok, 2},
        {"TruncatedTail", build::concat({a, b, build::truncated(c, c.size() / 2)}), s_ok, 2},
        {"LongLeaderSkipped", build::concat({a, long_b, build::truncated(c, c.size() / 2)}), s_ok,
         1},
        {"OnlyLongLeader", long_b, HY_S_LONGLEADER, 2},
        {"NoiseAfter", build::concat({build::noise(200, 3), a, build::noise(130, 4)}), s_ok, 1},
        {"OnlyPartial", build::truncated(a, 40), HY_E_ENDOFDATA, 0},
        {"ShortNoise", build::noise(10, 1), HY_E_ENDOFDATA, 0},
    };
}

INSTANTIATE_TEST_SUITE_P(Streams, LoadLast, ::testing::ValuesIn(last_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(LoadLastFailures, StreamErrorsPassThrough) {
    build::fault_stream s(sample());
    s.seekable = false;
    CSNPersist p;
    EXPECT_EQ(p.LoadLast(s), e_notimpl);
}

// The offset table, written by hand.
bytes table_record(std::vector<std::uint16_t> offsets, std::size_t length,
                   std::uint16_t first_id = 0x1234) {
    bytes r(length + 2, 0);
    r[0] = r[1] = 0x7F;
    write_u16(r.data() + 2, static_cast<std::uint16_t>(length));
    r[5] = static_cast<std::uint8_t>(offsets.size());
    for (std::size_t i = 0; i < offsets.size() && 6 + 2 * i + 1 < r.size(); ++i)
        write_u16(r.data() + 6 + 2 * i, offsets[i]);
    const std::size_t first = 6 + 2 * offsets.size();
    if (first + 2 <= length) write_u16(r.data() + first, first_id);
    build::fix_checksum(r);
    return r;
}

struct LookupCase {
    std::string name;
    bytes record;
    int index;
    bool present;
    int size;
};

void PrintTo(const LookupCase& c, std::ostream* os) {
    *os << c.name;
}

class Lookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(Lookup, EntriesOutsideTheRecordAreAbsent) {
    const LookupCase& c = GetParam();
    memory_stream s(c.record);
    CSNPersist p;
    ASSERT_EQ(p.Load(s), s_ok);
    EXPECT_EQ(p.GetTypeAt(c.index) != nullptr, c.present);
    EXPECT_EQ(p.GetTypeSize(c.index), c.size);
}

std::vector<LookupCase> lookup_cases() {
    return {
        // N = 2, L = 40: types at 10 (size 20) and 30 (size 40 - 2 - 30 = 8).
        {"First", table_record({10, 30}, 40), 0, true, 20},
        {"Last", table_record({10, 30}, 40), 1, true, 8},
        {"IndexPastN", table_record({10, 30}, 40), 2, false, 0},
        {"NegativeIndex", table_record({10, 30}, 40), -1, false, 0},
        {"IdWordAtLastFit", table_record({10, 38}, 40), 1, true, 0},
        {"IdWordPastCount", table_record({10, 39}, 40), 1, false, 0},
        {"FarOutside", table_record({10, 0xFFF0}, 40), 1, false, 0},
        {"IntoHeader", table_record({10, 4}, 40), 1, false, 0},
        {"NextEntryFarOff", table_record({10, 0xFFF0}, 40), 0, true, 30}, // clamped to L
        {"Decreasing", table_record({30, 10}, 40), 0, true, 0},
        {"TableOverrunsCount", table_record({8, 8, 8, 8}, 10), 2, false, 0},
        {"EntryEndsAtCount", table_record({8, 8, 8, 8}, 10), 1, true, 0}, // next entry past it
    };
}

INSTANTIATE_TEST_SUITE_P(Table, Lookup, ::testing::ValuesIn(lookup_cases()),
                         [](const auto& info) { return info.param.name; });

TEST(Lookup, FirstMatchingIdWinsAndUnknownIdsAreCarried) {
    const bytes unknown{0x99, 0x77, 1, 2, 3};
    const bytes r = build::ensemble_builder()
                        .add(unknown)
                        .add(build::fixed_leader{})
                        .add(build::encode_profile(velocity_id, 2, std::vector<std::int32_t>(8, 1)))
                        .add(build::encode_profile(velocity_id, 2, std::vector<std::int32_t>(4, 2)))
                        .build();
    memory_stream s(r);
    CSNPersist p;
    ASSERT_EQ(p.Load(s), s_ok);
    EXPECT_EQ(p.FindType(0x7799), 0);
    EXPECT_EQ(p.GetTypeSize(0), 5);
    EXPECT_EQ(p.FindType(velocity_id), 2);
    EXPECT_EQ(p.GetTypeSize(2), 18);
    EXPECT_EQ(p.GetTypeSize(3), 10);
    EXPECT_EQ(p.GetType(velocity_id), p.GetTypeAt(2));
    EXPECT_EQ(p.FindType(bottom_track_id), -1);
    EXPECT_EQ(p.GetType(bottom_track_id), nullptr);
}

} // namespace
} // namespace hyd
