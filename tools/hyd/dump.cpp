// hyd dump: every Load of a file as a host makes it, one JSON object per line.
#include "cli.h"
#include "common/file_stream.h"
#include "json_writer.h"

#include "datasource/item_strings.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace hyd::tool {

namespace {

constexpr const char* dump_help =
    "usage: hyd dump FILE\n"
    "\n"
    "Reads FILE as a host does, Load after Load from its start, and prints one JSON object per\n"
    "Load on stdout: \"hr\" (Load's result), \"position\" (-1 when unknown), \"size\", and after "
    "a\n"
    "successful Load \"items\": every item by ID with its result and values, points or text.\n"
    "Loading goes on after a success or HY_E_BADENSEMBLE and stops after any other result.\n";

// The items read with GetLong, ascending: header, fixed leader, variable leader, bottom track
// and the profile IDs.
std::vector<item_value> long_dump_items() {
    std::vector<item_value> ids;
    for (item_value id = 7000; id <= 7004; ++id) ids.push_back(id);
    for (item_value id = 7100; id <= 7148; ++id) ids.push_back(id);
    for (item_value id = 7300; id <= 7324; ++id) ids.push_back(id);
    for (item_value id = 7500; id <= 7524; ++id) ids.push_back(id);
    return ids;
}

// The JSON is written through a cursor into one large buffer: each piece claims room for its
// longest text once, then numbers, codes and fixed texts are put in place with no check or
// allocation per value, and the buffer goes out in large writes.

constexpr std::size_t values_at_most = 256; // GetLong values per item
constexpr std::size_t points_at_most = 1024;
constexpr std::size_t number_chars = 20;        // longest 64-bit number
constexpr std::size_t point_chars = 2 * 11 + 4; // ",[x,y]" of 32-bit values
constexpr std::size_t head_chars = 64;          // key, result code and the fixed texts of an item

// "0000" to "9999": four digits per step. A number of fewer than four digits is copied from the
// tail of its group, and the bytes after it are overwritten by what follows (the caller's claim
// leaves room for them).
constexpr auto quads = [] {
    std::array<char, 4 * 10000 + 4> text{};
    for (std::size_t i = 0; i < 10000; ++i)
        for (std::size_t d = 0, v = i; d < 4; ++d, v /= 10)
            text[4 * i + 3 - d] = char('0' + v % 10);
    return text;
}();

// Up to four digits, without leading zeros.
char* put_small(char* at, std::uint32_t u) {
    // Counted without branches: the digits of measured values are not predictable.
    const std::size_t digits = 1u + (u >= 10) + (u >= 100) + (u >= 1000);
    std::memcpy(at, quads.data() + 4 * u + 4 - digits, 4);
    return at + digits;
}

char* put_unsigned(char* at, std::uint32_t u) {
    if (u < 10000) return put_small(at, u);
    if (u < 100000000) {
        at = put_small(at, u / 10000);
    } else {
        at = put_small(at, u / 100000000);
        std::memcpy(at, quads.data() + 4 * (u / 10000 % 10000), 4);
        at += 4;
    }
    std::memcpy(at, quads.data() + 4 * (u % 10000), 4);
    return at + 4;
}

char* put_number(char* at, std::int64_t v) {
    if (v >= 0 && v <= 0xFFFFFFFF) return put_unsigned(at, static_cast<std::uint32_t>(v));
    if (v < 0 && v >= -0xFFFFFFFFll) {
        *at = '-';
        return put_unsigned(at + 1, static_cast<std::uint32_t>(-v));
    }
    char text[24];
    const std::size_t n = static_cast<std::size_t>(
        std::snprintf(text, sizeof text, "%lld", static_cast<long long>(v)));
    std::memcpy(at, text, n);
    return at + n;
}

inline char* put_value(char* at, item_value v) {
    *at = '-'; // overwritten by the first digit when v is not negative
    const auto u = static_cast<std::uint32_t>(v);
    return put_unsigned(at + (v < 0), v < 0 ? 0u - u : u);
}

// Writes n values as "v,v,...,v". A long run of zeros (a missing data type gives values_at_most of
// them) comes from a ready-made text.
char* put_values(char* at, const item_value* values, std::size_t n) {
    static constexpr std::array<item_value, values_at_most> zeros{};
    static constexpr auto zero_commas = [] {
        std::array<char, 2 * values_at_most> text{};
        for (std::size_t i = 0; i < text.size(); i += 2) {
            text[i] = '0';
            text[i + 1] = ',';
        }
        return text;
    }();
    if (n > 16 && std::memcmp(values, zeros.data(), n * sizeof(item_value)) == 0) {
        std::memcpy(at, zero_commas.data(), 2 * n - 1);
        return at + 2 * n - 1;
    }
    for (std::size_t i = 0; i < n; ++i) {
        at = put_value(at, values[i]);
        *at++ = ',';
    }
    return n ? at - 1 : at;
}

// Writes points as "[x,y],[x,y],...". The points of one depth cell share their depth: the text
// after each x, ",y],[", is made once per cell and copied in a fixed width of 16 (the caller
// leaves that much slack); the last point's "," and "[" are then taken back.
char* put_points(char* at, const item_point* points, std::size_t n) {
    if (n == 0) return at;
    char tail[16];
    std::size_t tail_chars = 0;
    *at++ = '[';
    for (std::size_t k = 0; k < n; ++k) {
        at = put_value(at, points[k].x);
        if (k == 0 || points[k].y != points[k - 1].y) {
            tail[0] = ',';
            char* end = put_value(tail + 1, points[k].y);
            end = put_text(end, "],[");
            tail_chars = static_cast<std::size_t>(end - tail);
        }
        std::memcpy(at, tail, sizeof tail);
        at += tail_chars;
    }
    return at - 2;
}

class dump_writer {
  public:
    explicit dump_writer(std::FILE* out) : out_(out), text_(new char[capacity]) {}
    ~dump_writer() { flush(); }
    dump_writer(const dump_writer&) = delete;
    dump_writer& operator=(const dump_writer&) = delete;

    // A cursor with room for n more bytes; done(cursor) takes what was put there.
    char* claim(std::size_t n) {
        if (capacity - used_ < n) flush();
        return text_.get() + used_;
    }
    void done(char* cursor) { used_ = static_cast<std::size_t>(cursor - text_.get()); }
    void end_line() {
        done(put_text(claim(1), "\n"));
        if (used_ >= (1 << 16)) flush();
    }
    bool flush() {
        if (used_ != 0 && std::fwrite(text_.get(), 1, used_, out_) != used_) ok_ = false;
        used_ = 0;
        return ok_;
    }
    bool ok() const { return ok_; }

  private:
    static constexpr std::size_t capacity = 1 << 20; // more than any one claim

    std::FILE* out_;
    std::unique_ptr<char[]> text_;
    std::size_t used_ = 0;
    bool ok_ = true;
};

void write_items(dump_writer& w, const CSNBasePersist& p) {
    static const std::vector<item_value> long_ids = long_dump_items();
    const item_reader items(p);
    // Only what the reads report is written out, so the arrays need no clearing first.
    std::array<item_value, values_at_most> values;
    std::array<item_point, points_at_most> points;
    std::string s;
    bool first = true;
    // `"ID":{"hr":"0x...."`, with a comma before all but the first.
    const auto head = [&](char* at, item_value id, hresult hr) {
        if (!first) *at++ = ',';
        first = false;
        *at++ = '"';
        at = put_value(at, id);
        at = put_text(at, "\":{\"hr\":");
        return put_code(at, hr);
    };
    const auto longs = [&](item_value id) {
        item_value actual = 0;
        const hresult hr = items.get_long(id, HY_INDEX_ALL, values.data(), values_at_most, &actual);
        const auto n = static_cast<std::size_t>(
            succeeded(hr) ? std::clamp<item_value>(actual, 0, values_at_most) : 0);
        char* at = head(w.claim(head_chars + n * (number_chars + 1)), id, hr);
        at = put_text(at, ",\"values\":[");
        at = put_values(at, values.data(), n);
        w.done(put_text(at, "]}"));
    };
    // The texts read their values through this record's reader too.
    const long_reader read_long = [&items](item_value id, item_value* value) {
        item_value count = 0;
        return items.get_long(id, HY_INDEX_ALL, value, 1, &count);
    };
    const auto text = [&](item_value id) {
        const hresult hr = get_item_string(p, id, read_long, tool_date_time_format(), &s);
        char* at = head(w.claim(head_chars + (hr == s_ok ? 6 * s.size() : 0)), id, hr);
        if (hr == s_ok) at = put_string(put_text(at, ",\"text\":"), s);
        w.done(put_text(at, "}"));
    };

    w.done(put_text(w.claim(1), "{"));
    for (item_value id : long_ids) {
        longs(id);
        if (id == 7148) text(FIX_CPU_SERIAL);
    }
    for (int i = 0; i < profile_item_count; ++i) {
        longs(profile_id_item(i));
        const item_value id = profile_cell_item(i);
        item_value actual = 0;
        const hresult hr =
            items.get_point(id, HY_INDEX_ALL, points.data(), points_at_most, &actual);
        const auto n = static_cast<std::size_t>(
            succeeded(hr) ? std::clamp<item_value>(actual, 0, points_at_most) : 0);
        char* at = head(w.claim(head_chars + n * point_chars + 16), id, hr);
        at = put_text(at, ",\"points\":[");
        at = put_points(at, points.data(), n);
        w.done(put_text(at, "]}"));
    }
    text(DERIVED_ENSDT);
    text(DERIVED_ENSTM);
    w.done(put_text(w.claim(1), "}"));
}

} // namespace

int run_dump(const args& a) {
    if (a.wants_help()) {
        std::fputs(dump_help, stdout);
        return exit_ok;
    }
    if (a.items.size() != 1)
        return fail("dump", exit_usage, "expects one FILE (see hyd dump --help)");
    const std::string& path = a.items[0];
    if (const std::string why = unreadable_reason(path); !why.empty())
        return fail("dump", exit_io, "cannot read %s: %s", path.c_str(), why.c_str());
    file_reader stream;
    if (!stream.open(path))
        return fail("dump", exit_io, "cannot open %s: %s", path.c_str(), std::strerror(errno));

    dump_writer w(stdout);
    CSNPersist p;
    for (;;) {
        const hresult hr = p.Load(stream);
        std::uint64_t size = 0;
        p.GetSizeMax(&size);
        char* at = put_text(w.claim(head_chars + 2 * number_chars), "{\"hr\":");
        at = put_number(put_text(put_code(at, hr), ",\"position\":"), p.position());
        at = put_number(put_text(at, ",\"size\":"), static_cast<std::int64_t>(size));
        if (succeeded(hr)) {
            w.done(put_text(at, ",\"items\":"));
            write_items(w, p);
            at = w.claim(1);
        }
        w.done(put_text(at, "}"));
        w.end_line();
        if (!w.ok()) return fail("dump", exit_io, "cannot write the output");
        if (succeeded(hr) || hr == HY_E_BADENSEMBLE) continue;
        if (hr != HY_E_ENDOFDATA && hr != e_fail) {
            w.flush();
            return fail("dump", exit_io, "reading %s failed: %s", path.c_str(),
                        failure_text(hr, stream.last_error()).c_str());
        }
        break;
    }
    if (!w.flush() || std::fflush(stdout) != 0)
        return fail("dump", exit_io, "cannot write the output");
    return exit_ok;
}

} // namespace hyd::tool
