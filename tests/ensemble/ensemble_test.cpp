// The ensemble record: one table of byte streams drives Load; items are read against a small
// reference decoder written from the record format, on generated records of every shape.
#include "common/memory_stream.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/ensemble_format.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"
#include "support/fault_stream.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>

namespace hyd {
namespace {

using build::bytes;
using build::concat;
using r = load_reason;

// Records whose bytes hold no 0x7F but the sync pair, so what follows a damaged one is found.
const bytes g = build::ensemble_builder().add(bytes{0x12, 0x34, 1, 2, 3, 4}).build();
const auto n = std::uint32_t(g.size());

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
    int over_read = 0;
};

void check(const LoadCase& c) {
    fault_stream s(c.stream);
    s.short_read = c.short_read, s.failed_read = c.failed_read, s.seekable = c.seekable;
    s.over_read = c.over_read;
    CSNPersist p;
    EXPECT_EQ(p.Load(s), c.hr);
    EXPECT_EQ(p.last_reason(), c.why);
    EXPECT_EQ(p.last_start(), c.start);
    EXPECT_EQ(p.position(), c.held ? c.start : -1);
    std::uint64_t size = 1;
    std::uint32_t held = 1;
    const std::uint8_t* bytes_held = p.GetBuffer(&held);
    EXPECT_EQ(p.GetSizeMax(&size), s_ok);
    ASSERT_EQ(std::pair(size, held), std::pair(std::uint64_t{c.held}, c.held));
    memory_stream copy; // Save writes what is held, byte for byte; with nothing held it fails
    EXPECT_EQ(p.Save(copy, true), c.held ? s_ok : e_fail);
    EXPECT_EQ(copy.bytes(), bytes(bytes_held, bytes_held + held));
    if (c.held && c.start >= 0 && !c.short_read && !c.failed_read) { // what arrived, then zeros
        const std::size_t arrived = std::min<std::size_t>(c.held, c.stream.size() - c.start);
        EXPECT_EQ(copy.bytes(),
                  concat({{c.stream.data() + c.start, arrived}, bytes(c.held - arrived, 0)}));
    }
    EXPECT_EQ(p.Load(s), c.next);
    EXPECT_EQ(p.position(), c.next_at);
}

TEST(Checksum, WideSumsAgreeWithAByteLoopAtEveryLengthAndAlignment) {
    bytes data(4200);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i % 7 == 0 ? 0xFF : i * 37 + i / 256);
    for (const std::size_t length :
         {0, 1, 7, 8, 15, 16, 31, 32, 33, 63, 64, 65, 100, 127, 128, 129, 255, 4096})
        for (std::size_t skew = 0; skew < 4; ++skew) {
            const std::uint8_t* from = data.data() + skew;
            std::uint32_t want = 0;
            for (std::size_t i = 0; i < length; ++i) want += from[i];
            bytes copy(length + 1, 0xAB);
            EXPECT_EQ(ensemble_checksum({from, length}), std::uint16_t(want)) << length;
            EXPECT_EQ(copy_with_checksum(copy.data(), from, length), std::uint16_t(want)) << length;
            EXPECT_TRUE(std::equal(from, from + length, copy.data())) << length;
            EXPECT_EQ(copy[length], 0xAB) << length; // nothing written past the end
        }
}

TEST(Load, ResultReasonStartHeldBytesAndTheNextLoad) {
    const bytes leader_1024 = with_leader(1024), leader_1025 = with_leader(1025);
    const auto stray = 0x7F + 256 * (n - 2) + 2; // count: the sync byte and the count's low byte
    const std::int64_t k = n / 2;
    const hresult eod = HY_E_ENDOFDATA, bad = HY_E_BADENSEMBLE, read_fault = hresult_from_win32(30);
    const LoadCase cases[] = {
        {"RunOnRecords", concat({g, g}), s_ok, r::loaded, 0, n, s_ok, n},
        {"LeadingGarbage", concat({build::noise(1000, 1), g}), s_ok, r::loaded, 1000, n, eod, -1},
        {"SyncByteThenOther", concat({bytes{0x7F, 0x00}, g}), s_ok, r::loaded, 2, n, eod, -1},
        {"Empty", {}, eod, r::end_of_data, -1, 0, eod, -1},
        {"OnlyGarbage", build::noise(500, 2), eod, r::end_of_data, -1, 0, eod, -1},
        {"SearchLimitNotReached", concat({bytes(131070, 0), g}), s_ok, r::loaded, 131070, n, eod,
         -1},
        {"SearchLimitReached", concat({bytes(131071, 0), g, g}), e_fail, r::no_sync, -1, 0, s_ok,
         131071 + n},
        {"SearchLimitPerAttempt", concat({bytes(100000, 0), bytes{0x7F, 0}, bytes(100000, 0), g}),
         s_ok, r::loaded, 200002, n, eod, -1},
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
        {"VariableLeaderOf1024", leader_1024, s_ok, r::loaded, 0, std::uint32_t(leader_1024.size()),
         eod, -1},
        {"VariableLeaderOf1025", leader_1025, HY_S_LONGLEADER, r::loaded, 0,
         std::uint32_t(leader_1025.size()), eod, -1},
        {"Unseekable", concat({build::noise(10, 4), g}), s_ok, r::loaded, -1, n, eod, -1, 0, 0,
         false},
        {"ShortFirstSyncRead", g, eod, r::end_of_data, -1, 0, s_ok, 0, 1},
        {"ShortSecondSyncRead", g, eod, r::end_of_data, -1, 0, eod, -1, 2},
        {"ShortCountRead", g, eod, r::end_of_data, 0, 0, eod, -1, 3},
        {"ShortByte4Read", g, eod, r::end_of_data, 0, 0, eod, -1, 4},
        {"ShortBodyRead", g, eod, r::cut_short, 0, n, eod, -1, 5},
        {"FailedSyncRead", g, read_fault, r::read_failed, -1, 0, s_ok, 0, 0, 1},
        {"FailedBodyRead", g, read_fault, r::read_failed, 0, n, eod, -1, 0, 5},
        {"BodyReadClaimsMore", concat({g, g}), s_ok, r::loaded, 0, n, s_ok, n, 0, 0, true, 5},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.name);
        check(c);
    }
}

TEST(LoadLast, FindsTheLastCompleteRecordPassingLongLeaders) {
    const bytes a = with_leader(65, 1), b = with_leader(65, 2), c = with_leader(65, 3),
                long_b = with_leader(1100, 2);
    // Stream, result, ensemble number of the record held (0 for none).
    const std::tuple<bytes, hresult, int> rows[] = {
        {{}, e_fail, 0},
        {concat({a, b}), s_ok, 2},
        {concat({a, b, build::truncated(c, c.size() / 2)}), s_ok, 2},
        {concat({a, long_b, build::truncated(c, c.size() / 2)}), s_ok, 1},
        {long_b, HY_S_LONGLEADER, 2},
        {concat({build::noise(200, 3), a, build::noise(130, 4)}), s_ok, 1},
        {build::truncated(a, 40), HY_E_ENDOFDATA, 1}, // the partial record stays
        {build::noise(10, 1), HY_E_ENDOFDATA, 0},
        {{0x7F}, HY_E_ENDOFDATA, 0}};
    for (const auto& [stream, hr, number] : rows) {
        fault_stream s(stream);
        CSNPersist p;
        EXPECT_EQ(p.LoadLast(s), hr) << number;
        const std::uint8_t* leader = p.GetType(0x0080);
        EXPECT_EQ(leader ? leader[2] : 0, number);
    }
    fault_stream unseekable(g);
    unseekable.seekable = false;
    CSNPersist p;
    EXPECT_EQ(p.LoadLast(unseekable), e_notimpl);
}

TEST(Save, ShortAndFailingWrites) {
    CSNPersist p;
    memory_stream in(g);
    ASSERT_EQ(p.Load(in), s_ok);
    fault_stream sink({});
    sink.write_limit = 3;
    EXPECT_EQ(p.Save(sink, false), e_fail);
    sink.write_error = hresult_from_win32(112); // disk full
    EXPECT_EQ(p.Save(sink, false), hresult_from_win32(112));
    EXPECT_EQ(p.IsDirty(), s_false);
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
    // Offset table, byte count before the checksum, origin; the index looked up and its size, -1
    // for absent. N = 2, L = 40: data types at 10 (20 bytes) and 30 (40 - 2 - 30 = 8 bytes).
    const std::tuple<std::vector<std::uint16_t>, std::uint16_t, std::uint16_t, int, int> rows[] = {
        {{10, 30}, 40, 0, 0, 20},     {{10, 30}, 40, 0, 1, 8},     {{10, 30}, 40, 0, 2, -1},
        {{10, 30}, 40, 0, -1, -1},    {{10, 38}, 40, 0, 1, 0},     {{10, 39}, 40, 0, 1, -1},
        {{10, 65520}, 40, 0, 1, -1},  {{10, 5}, 40, 0, 1, -1},     {{10, 6}, 40, 0, 1, 32},
        {{10, 65520}, 40, 0, 0, 30},  {{30, 10}, 40, 0, 0, 0},     {{7, 7}, 9, 0, 0, 0},
        {{8, 8, 8, 8}, 10, 0, 2, -1}, {{8, 8, 8, 8}, 10, 0, 1, 0}, {{10, 30}, 40, 3, 0, 20},
        {{10, 30}, 40, 1, 1, 9}};
    // One reader reads each record twice: after one laid out differently, then after itself.
    shifted_reader p(0);
    for (const auto& [offsets, length, origin, index, size] : rows) {
        p.origin = origin;
        for (int pass = 0; pass < 2; ++pass) {
            memory_stream s(table_record(offsets, length, origin));
            ASSERT_EQ(p.Load(s), s_ok);
            EXPECT_EQ(p.GetTypeAt(index) ? p.GetTypeSize(index) : -1, size)
                << offsets[1] << " " << index << " pass " << pass;
            EXPECT_EQ(p.GetTypeSize(index), std::max(size, 0));
        }
    }
    // Records read in turn by one reader, each laid out like the last in some way: the index
    // and size each must give (a checksum that no longer matches still leaves them indexed).
    const bytes a = table_record({10, 30}, 40);
    bytes others = a; // data types of its own
    write_u16(others.data() + 10, 0x0100);
    write_u16(others.data() + 30, 0x0080);
    build::fix_checksum(others);
    const std::tuple<bytes, std::uint32_t, int, int> turns[] = {
        {a, 0, 1, 8},
        {table_record({8, 8, 8, 8}, 10), 0, 0, 0},
        {a, 0, 1, 8},                        // after a table that did not fit its record
        {a, 2, 1, 10},                       // another offset origin
        {table_record({10}, 40), 0, 0, 28}}; // the same first entry, one data type
    for (const auto& [record, origin, index, size] : turns) {
        memory_stream s(record);
        p.origin = origin;
        p.Load(s);
        EXPECT_EQ(p.GetTypeSize(index), size) << origin << " " << record.size();
    }
    memory_stream s(concat({a, others}));
    ASSERT_EQ(p.Load(s), s_ok);
    ASSERT_EQ(p.Load(s), s_ok);
    EXPECT_EQ(p.FindType(0x0000), -1);
    EXPECT_EQ(p.FindType(0x0100), 0);
    EXPECT_EQ(p.FindType(0x0080), 1);
    EXPECT_EQ(p.type_id(1), 0x0080);
    EXPECT_EQ(p.type_id(2), 0); // past the table
}

using values = std::vector<item_value>;

// The catalogue: item, data type (H header, F fixed leader, V variable leader, B bottom track)
// with the field's offset, its width (t3: minutes, seconds, hundredths), then: x4 one value per
// beam, x8 eight values, b<shift>:<bits> a bit field, >=n from firmware V n, <n below it, fam
// for V 813-899 and 913-999 only. Conversions beyond these are in the decoder.
constexpr const char* catalogue_text = R"(
7000 H0 u16  7001 H0 u32  7002 H2 u16  7003 H5 u8  7004 H6 u16  7100 F0 u16  7101 F2 u16
7102 F4 u16  7103 F4 u16  7104 F4 u16 b3:1  7105 F4 u16  7106 F4 u16 b6:1  7107 F4 u16 b7:1
7108 F4 u16  7109 F4 u16 b12:4  7110 F6 u8  7111 F7 u8 >=151  7112 F8 u8  7113 F9 u8
7114 F10 u16  7115 F12 u16  7116 F14 u16  7117 F16 u8  7118 F17 u8  7119 F18 u8 <151
7120 F18 u8 >=151  7121 F19 u8  7122 F20 u16  7123 F22 t3  7124 F25 u8  7125 F25 u8 b2:1 >=154
7126 F25 u8 b0:1  7127 F25 u8 b1:1  7128 F26 i16  7129 F28 i16  7130 F30 u8 b6:1
7131 F30 u8 b5:1  7132 F30 u8 b4:1  7133 F30 u8 b3:1  7134 F30 u8 b2:1  7135 F30 u8 b1:1
7136 F30 u8 b0:1  7137 F31 u8 b5:1  7138 F31 u8 b4:1  7139 F31 u8 b3:1  7140 F31 u8 b2:1
7141 F31 u8 b1:1  7142 F31 u8 b0:1  7143 F32 u16 >=151  7144 F34 u16 >=151  7145 F36 u8 >=200
7146 F37 u8 >=200  7147 F38 u8 >=200  7148 F40 u16 >=214
7300 V0 u16  7301 V2 u16  7302 V4 u8  7303 V5 u8  7304 V6 u8  7305 V7 u8  7306 V8 u8
7307 V9 u8  7308 V10 u8  7309 V12 u16  7310 V14 u16  7311 V16 i16  7312 V18 u16  7313 V20 i16
7314 V22 i16  7315 V24 u16  7316 V26 i16  7317 V28 t3 >=151  7318 V31 u8 >=217
7319 V32 u8 >=217  7320 V33 u8 >=217  7321 V34 u8 x8 >=277  7322 V42 u32 fam  7323 V48 u32 fam
7324 V52 u32 fam  7500 B0 u16  7501 B2 u16  7502 B4 u16  7503 B6 u8  7504 B7 u8
7505 B9 u8 >=305  7506 B10 u16  7507 B12 u16  7508 B14 u16  7509 B16 u16 x4  7510 B24 i16 x4
7511 B32 u8 x4  7512 B36 u8 x4  7513 B40 u8 x4  7514 B44 u16  7515 B46 u16  7516 B48 u16
7517 B50 i16 x4  7518 B58 u8 x4  7519 B62 u8 x4  7520 B66 u8 x4  7521 B70 u16 >=154  7522 B8 u8
7523 B72 u8 x4  7524 B76 u8)";

constexpr int family = 1; // `when`: 0 always, n > 1 from V n, -n below V n, family
struct field {
    item_value id;
    int part = 0, offset = 0, width = 0;
    bool is_signed = false;
    int count = 1, shift = 0, nbits = 0, when = 0;
};

const std::vector<field>& catalogue() {
    static const std::vector<field> fields = [] {
        std::vector<field> c;
        std::istringstream in(catalogue_text);
        for (std::string t; in >> t;) {
            field& f = std::isdigit(t[0]) ? c.emplace_back(field{std::stoi(t)}) : c.back();
            if (const auto at = std::string("HFVB").find(t[0]); at != std::string::npos)
                f.part = static_cast<int>(at), f.offset = std::stoi(t.substr(1));
            if (t[0] == 'u' || t[0] == 'i' || t[0] == 't')
                f.width = t == "t3" ? 3 : std::stoi(t.substr(1)) / 8, f.is_signed = t[0] == 'i';
            if (t[0] == 'x') f.count = std::stoi(t.substr(1));
            if (t[0] == 'b')
                f.shift = std::stoi(t.substr(1)), f.nbits = std::stoi(t.substr(t.find(':') + 1));
            if (t[0] == '>' || t[0] == '<')
                f.when =
                    (t[0] == '<' ? -1 : 1) * std::stoi(t.substr(t.find_first_of("0123456789")));
            if (t == "fam") f.when = family;
        }
        return c;
    }();
    return fields;
}

// The profile data types in item order: item 7700 + 20 i is the ID word, 7701 + 20 i the values.
struct layout {
    std::uint16_t id;
    int per_cell, width;
    bool is_signed;
};
constexpr layout layouts[] = {
    {0x0100, 4, 2, true},  {0x0200, 4, 1, false}, {0x0300, 4, 1, false}, {0x0400, 4, 1, false},
    {0x0500, 4, 1, false}, {0x0A00, 1, 2, true},  {0x0B00, 1, 1, false}, {0x0C00, 1, 1, false},
    {0x0D00, 1, 1, false}, {0x0E00, 1, 1, false}, {0x0701, 4, 1, false}, {0x0702, 4, 4, true},
    {0x0703, 4, 4, true},  {0x1301, 1, 1, false}, {0x1302, 1, 4, true},  {0x0207, 1, 4, true}};

// A data type of `length` bytes, ID word first, every byte unlike its neighbours.
bytes data_type(std::uint16_t id, std::size_t length, std::uint32_t salt) {
    bytes b(length);
    for (std::uint32_t i = 0; i < length; ++i) {
        const std::uint32_t x = (salt * 0x9E3779B1u + i * 0x85EBCA77u) * 0x2C1B3C6Du;
        b[i] = static_cast<std::uint8_t>((x ^ x >> 13) >> 24);
    }
    for (std::size_t i = 0; i < 2 && i < length; ++i) b[i] = static_cast<std::uint8_t>(id >> 8 * i);
    return b;
}

struct model {
    std::string name;
    std::vector<bytes> types; // in record order
    int claimed = -1;         // a number of data types to claim instead of the true one
};

// Leaders of the given lengths (0: absent) and every profile for `cells` cells.
model make(std::string name, std::uint32_t salt, int version, std::size_t fl = 59,
           std::size_t vl = 65, std::size_t bt = 81, int cells = 5, bool minor_over_100 = false) {
    model m{std::move(name), {}};
    if (fl) m.types.push_back(data_type(0x0000, fl, salt));
    const int set[][2] = {
        {2, version / 100}, {3, version % 100 + (minor_over_100 ? 100 : 0)}, {9, cells}};
    for (const auto& [at, v] : set)
        if (fl > static_cast<std::size_t>(at)) m.types[0][at] = static_cast<std::uint8_t>(v);
    if (vl) m.types.push_back(data_type(0x0080, vl, salt + 1));
    for (const layout& l : layouts)
        m.types.push_back(data_type(l.id, 2 + cells * l.per_cell * l.width, salt + l.id));
    if (bt) m.types.push_back(data_type(0x0600, bt, salt + 3));
    return m;
}

bytes record_of(const model& m) {
    build::ensemble_builder b;
    for (const bytes& t : m.types) b.add(t);
    bytes r = b.build();
    if (m.claimed >= 0) r[5] = static_cast<std::uint8_t>(m.claimed), build::fix_checksum(r);
    return r;
}

constexpr item_value guard = 0x5A5A5A5A, unset = -99;

struct reading {
    hresult hr;
    item_value count;
    values buffer; // cMax values (points: x and y) and a guard
    bool operator==(const reading&) const = default;
};

const bytes* find(const model& m, std::uint16_t id) {
    for (const bytes& t : m.types)
        if (t.size() >= 2 && (t[0] | t[1] << 8) == id) return &t;
    return nullptr;
}

// A field's bytes little-endian, or 0 when it does not lie wholly inside its data type.
std::int64_t raw(const bytes* t, std::int64_t offset, int width, bool is_signed = false) {
    if (!t || offset + width > std::ssize(*t)) return 0;
    const std::uint8_t* p = t->data() + offset;
    if (width == 3) return (p[0] * 60 + p[1]) * 100 + p[2];
    std::uint32_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = v << 8 | p[i];
    if (width == 4) return static_cast<std::int32_t>(v);
    return is_signed && v >> (8 * width - 1) ? std::int64_t{v} - (1 << 8 * width) : v;
}

int version_of(const model& m) {
    const bytes* f = find(m, 0x0000);
    const int minor = static_cast<int>(raw(f, 3, 1));
    return static_cast<int>(raw(f, 2, 1)) * 100 + (minor > 100 ? minor - 100 : minor);
}

bool exists(int when, int v) {
    if (when == family) return (v / 100 == 8 && v >= 813) || (v / 100 == 9 && v >= 913);
    return when == 0 || (when > 0 ? v >= when : v < -when);
}

reading expected_long(const model& m, const bytes& rec, const CSNBasePersist& p, item_value item,
                      item_value index, item_value max) {
    values out(max + 1, guard);
    const bytes* parts[] = {&rec, find(m, 0x0000), find(m, 0x0080), find(m, 0x0600)};
    if (!parts[1] || !parts[2] || (item >= 7500 && item <= 7524 && !parts[3])) {
        std::fill(out.begin(), out.end() - 1, 0);
        return {s_false, max, out};
    }
    const int v = version_of(m);
    for (const field& f : catalogue()) {
        if (f.id != item) continue;
        int first = 0, count = f.count;
        if (f.count == 4 && index != HY_INDEX_ALL) {
            if (index < 0 || index > 3) return {e_invalidarg, 0, out};
            first = static_cast<int>(index), count = 1;
        }
        if (item == 7004) count = std::min<int>(rec[5], (static_cast<int>(rec.size()) - 8) / 2);
        count = std::min<int>(count, max);
        for (int i = 0; i < count; ++i) {
            const bytes* t = parts[f.part];
            const std::int64_t w =
                exists(f.when, v) ? raw(t, f.offset + (first + i) * f.width, f.width, f.is_signed)
                                  : 0;
            std::int64_t x = f.nbits ? (w >> f.shift) & ((1 << f.nbits) - 1) : w;
            if (item == 7000) x = 0x7F7F;
            if (item == 7001)
                x = std::uint32_t(reinterpret_cast<std::uintptr_t>(p.GetBuffer(nullptr)));
            if (item == 7101) x = v;
            if (item == 7103) x = 75 << (w & 7);
            if (item == 7105) x = ((w >> 4) & 3) + 1;
            if (item == 7108) x = (w & 0x300) == 0 ? 15 : (w & 0x300) == 0x100 ? 20 : 30;
            if (item == 7124) x = v < 154 ? (w >> 2) & 3 : (w >> 3) & 3;
            if (item == 7301 && v >= 277) x += raw(t, 11, 1) << 16;
            out[i] = static_cast<item_value>(x);
        }
        return {s_ok, count, out};
    }
    for (std::size_t i = 0; i < std::size(layouts); ++i) {
        const layout& l = layouts[i];
        const bytes* t = find(m, l.id);
        const auto base = static_cast<item_value>(7700 + 20 * i);
        if (item == base) {
            if (t) out[0] = l.id;
            return {t ? s_ok : s_false, t ? 1 : 0, out};
        }
        if (item != base + 1) continue;
        const std::int64_t total = raw(parts[1], 9, 1) * l.per_cell;
        const std::int64_t first = index >= 0 ? std::int64_t{index} * l.per_cell : -(index + 1LL);
        const std::int64_t count = index >= 0 ? l.per_cell : 1;
        if (!t || std::ssize(*t) < 2 + total * l.width || index == HY_INDEX_ALL ||
            first + count > total)
            return {s_false, 0, out};
        const auto n = static_cast<item_value>(std::min<std::int64_t>(count, max));
        for (item_value k = 0; k < n; ++k)
            out[k] =
                static_cast<item_value>(raw(t, 2 + (first + k) * l.width, l.width, l.is_signed));
        return {s_ok, n, out};
    }
    return {e_invalidarg, 1, out};
}

reading expected_points(const model& m, item_value item, item_value index, item_value max) {
    values out(2 * max + 2, guard);
    const bool cell = item >= 7701 && item <= 8001 && (item - 7701) % 20 == 0;
    if (!cell || (index < 0 && index != HY_INDEX_ALL)) return {e_invalidarg, 0, out};
    const layout& l = layouts[(item - 7701) / 20];
    const bytes *f = find(m, 0x0000), *v = find(m, 0x0080), *t = find(m, l.id);
    if (!t) return {s_false, 0, out};
    if (!f || !v) return {e_fail, 0, out};
    const std::int64_t total = raw(f, 9, 1) * l.per_cell;
    if (std::ssize(*t) < 2 + total * l.width) return {s_false, 0, out};
    const int sign = raw(f, 4, 2) & 0x80 ? -1 : 1; // beams up: cells above the transducer
    const std::int64_t first_cell = version_of(m) >= 151 ? raw(f, 32, 2) : 0;
    item_value n = 0;
    for (std::int64_t k = index == HY_INDEX_ALL ? 0 : index; k < total && n < max; ++k, ++n) {
        out[2 * n] = static_cast<item_value>(raw(t, 2 + k * l.width, l.width, l.is_signed));
        out[2 * n + 1] = static_cast<item_value>(
            sign * ((k / l.per_cell) * raw(f, 12, 2) + first_cell) + raw(v, 16, 2, true) * 10);
    }
    return {s_ok, n, out};
}

// Reads `items` at `indexes` with capacities 1, 3 and 8 (points: 1, 3 and 64); the first
// difference from the reference, or "".
std::string compare(const model& m, const values& items, const values& indexes) {
    const bytes rec = record_of(m);
    memory_stream s(rec);
    CSNPersist p;
    if (!succeeded(p.Load(s))) return "load failed";
    // A plan of all the items reads each one's first value, or 0 where GetLong gives none.
    values first(items.size());
    item_reader(p).values(item_plan(items), first.data());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const reading want = expected_long(m, rec, p, items[i], HY_INDEX_ALL, 1);
        const item_value value = succeeded(want.hr) && want.count > 0 ? want.buffer[0] : 0;
        if (first[i] != value)
            return "plan: item " + std::to_string(items[i]) + " read " + std::to_string(first[i]) +
                   " (" + std::to_string(value) + ")";
    }
    for (item_value item : items)
        for (item_value index : indexes)
            for (item_value max : {1, 3, 8}) {
                reading got{0, unset, values(static_cast<std::size_t>(max) + 1, guard)};
                got.hr = get_long(p, item, index, got.buffer.data(), max, &got.count);
                reading want = expected_long(m, rec, p, item, index, max);
                if (item >= 7699 && item <= 8002 && got == want) { // then the points
                    max = max == 8 ? 64 : max;
                    std::vector<item_point> pts(static_cast<std::size_t>(max) + 1, {guard, guard});
                    got = {0, unset, {}};
                    got.hr = get_point(p, item, index, pts.data(), max, &got.count);
                    for (const item_point& pt : pts)
                        got.buffer.insert(got.buffer.end(), {pt.x, pt.y});
                    want = expected_points(m, item, index, max);
                }
                if (got == want) continue;
                std::ostringstream diff;
                diff << "item " << item << " index " << index << " cMax " << max << ": hr "
                     << std::hex << got.hr << " (" << want.hr << ")" << std::dec << ", count "
                     << got.count << " (" << want.count << "), first " << got.buffer[0] << " ("
                     << want.buffer[0] << ")";
                return diff.str();
            }
    return "";
}

// Firmware 1.60 (minor above 100), coordinates 0x15, transducer at 37 dm, cells from 50 cm by 100.
model by_hand(bool up) {
    model m = make(up ? "by hand, beams up" : "by hand", 5, 160, 59, 65, 81, 2, true);
    const int fixed[][2] = {{4, up ? 0x80 : 0}, {5, 0x40}, {12, 100}, {13, 0},
                            {25, 0x15},         {32, 50},  {33, 0}};
    for (const auto& [at, v] : fixed) m.types[0][at] = static_cast<std::uint8_t>(v);
    const int variable[][2] = {{2, 0x45}, {3, 0x23}, {11, 1}, {16, 37}, {17, 0}};
    for (const auto& [at, v] : variable) m.types[1][at] = static_cast<std::uint8_t>(v);
    return m;
}

TEST(Items, GeneratedRecordsReadAsTheReferenceDecoderSays) {
    std::vector<model> all{by_hand(false), by_hand(true)};
    // Both sides of every firmware boundary; minor parts above 100 too.
    for (int v : {150, 151, 153, 154, 199, 200, 213, 214, 216, 217,  276, 277,
                  304, 305, 812, 813, 899, 900, 912, 913, 999, 1000, 1013})
        for (std::uint32_t salt = 1; salt <= 3; ++salt)
            all.push_back(make("V " + std::to_string(v) + " salt " + std::to_string(salt),
                               salt * 1000 + v, v, 59, 65, 81, 1 + static_cast<int>(salt),
                               salt == 2 && v % 100));
    // Each data type cut at every length: a field that overhangs the end reads as 0.
    for (std::uint32_t cut = 0; cut < 80; ++cut)
        all.push_back(make("cut " + std::to_string(cut), 7000 + cut, 940, 2 + cut % 58,
                           2 + cut * 7 % 64, 2 + cut * 13 % 80, 3));
    all.push_back(make("no fixed leader", 11, 940, 0));
    all.push_back(make("no variable leader", 12, 940, 59, 0));
    all.push_back(make("no bottom track", 13, 940, 59, 65, 0));
    all.push_back(make("no cells", 14, 940, 59, 65, 81, 0));
    model& shorter = all.emplace_back(make("profiles one byte short", 15, 940));
    for (bytes& t : shorter.types)
        if (const int id = t[0] | t[1] << 8; id != 0 && id != 0x80 && id != 0x600) t.pop_back();
    model& doubled = all.emplace_back(make("the first of two wins; 0x1303 is no profile", 16, 940));
    doubled.types.push_back(data_type(0x0100, 300, 99));
    doubled.types.insert(doubled.types.begin() + 2,
                         {data_type(0x0A00, 2, 98), data_type(0x1303, 30, 97)});
    model& none = all.emplace_back(make("no profiles", 17, 940));
    none.types.erase(none.types.begin() + 2, none.types.end() - 1);

    values items{6999, 7005, 7099,  7149,  7150,    7299,    7325, 7499, 7525,
                 8020, 8021, 11000, 11001, INT_MIN, INT_MAX, -1,   0};
    for (const field& f : catalogue()) items.push_back(f.id);
    for (item_value i = 7699; i <= 8002; i += 20)
        items.insert(items.end(), {i, i + 1, i + 2, i + 3});
    for (const model& m : all) {
        const auto c = static_cast<item_value>(raw(find(m, 0x0000), 9, 1));
        EXPECT_EQ(compare(m, items,
                          {HY_INDEX_ALL, HY_INDEX_ALL + 1, -1, -2, -4 * c, -4 * c - 1, -c, -c - 1,
                           0, 1, 2, 3, 4, c - 1, c, INT_MAX}),
                  "")
            << m.name;
    }
    values every;
    for (item_value i = 6990; i <= 11010; ++i) every.push_back(i);
    EXPECT_EQ(compare(all[2], every, {0}), "");
    // An offset table longer than the record: only the entries inside it are offsets.
    model table = make("table past the record's end", 19, 940, 59, 65, 0, 0);
    table.types.resize(2);
    table.types.push_back(data_type(0x7777, 3, 1));
    table.claimed = 255;
    EXPECT_EQ(compare(table, {7004}, {0}), "");
}

TEST(Items, BadArgumentsAndNothingHeld) {
    CSNPersist empty, held;
    memory_stream s(record_of(make("", 1, 940)));
    ASSERT_EQ(held.Load(s), s_ok);
    item_value v[2] = {guard, guard}, n = unset, m = unset;
    item_point pt[2] = {};
    for (const item_value max : {0, -1}) {
        EXPECT_EQ(get_long(held, 7000, 0, v, max, &n), e_invalidarg);
        EXPECT_EQ(get_point(held, 7701, 0, pt, max, &n), e_invalidarg);
    }
    EXPECT_EQ(get_long(held, 7000, 0, nullptr, 2, &n), e_invalidarg);
    EXPECT_EQ(get_long(held, 7000, 0, v, 2, nullptr), e_invalidarg);
    EXPECT_EQ(get_point(held, 7701, 0, nullptr, 2, &n), e_invalidarg);
    EXPECT_EQ(get_point(held, 7701, 0, pt, 2, nullptr), e_invalidarg);
    EXPECT_EQ(get_long(empty, 7701, 0, v, 2, &n), e_fail);
    EXPECT_EQ(n, unset); // none of these wrote a count or a value
    EXPECT_EQ(v[0], guard);
    EXPECT_EQ(get_point(empty, 7701, 0, pt, 2, &n), e_fail);
    EXPECT_EQ(get_point(empty, 9999, 0, pt, 2, &m), e_invalidarg);
    EXPECT_EQ(n + m, 0);
    EXPECT_EQ(get_long(held, INT_MIN, 0, v, 2, &n), e_invalidarg); // item - 1 does not fit
    EXPECT_EQ(get_point(held, INT_MIN, 0, pt, 2, &m), e_invalidarg);
    EXPECT_EQ(n + m, 1);
}

} // namespace
} // namespace hyd
