// hyd dump: every Load of a file as a host makes it, one JSON object per line.
#include "cli.h"
#include "json_writer.h"

#include "common/file_stream.h"

#include "datasource/item_strings.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

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

void write_items(line_writer& w, const CSNBasePersist& p) {
    static const std::vector<item_value> long_ids = long_dump_items();
    std::array<item_value, 256> values{};
    std::array<item_point, 1024> points{};
    bool first = true;
    const auto key = [&](item_value id) {
        w.raw(first ? "\"" : ",\"").number(id).raw("\":");
        first = false;
    };
    const auto longs = [&](item_value id) {
        item_value actual = 0;
        const hresult hr = get_long(p, id, HY_INDEX_ALL, values.data(), 256, &actual);
        key(id);
        w.raw("{\"hr\":").code(hr).raw(",\"values\":[");
        const item_value n = succeeded(hr) ? std::clamp<item_value>(actual, 0, 256) : 0;
        for (item_value i = 0; i < n; ++i) {
            if (i) w.raw(",");
            w.number(values[static_cast<std::size_t>(i)]);
        }
        w.raw("]}");
    };
    const auto text = [&](item_value id) {
        std::string s;
        const hresult hr = get_item_string(p, id, tool_date_time_format(), &s);
        key(id);
        w.raw("{\"hr\":").code(hr);
        if (hr == s_ok) w.raw(",\"text\":").string(s);
        w.raw("}");
    };

    w.raw("{");
    for (item_value id : long_ids) {
        longs(id);
        if (id == 7148) text(FIX_CPU_SERIAL);
    }
    for (int i = 0; i < profile_item_count; ++i) {
        longs(profile_id_item(i));
        const item_value id = profile_cell_item(i);
        item_value actual = 0;
        const hresult hr = get_point(p, id, HY_INDEX_ALL, points.data(), 1024, &actual);
        key(id);
        w.raw("{\"hr\":").code(hr).raw(",\"points\":[");
        const item_value n = succeeded(hr) ? std::clamp<item_value>(actual, 0, 1024) : 0;
        for (item_value k = 0; k < n; ++k) {
            const item_point& pt = points[static_cast<std::size_t>(k)];
            w.raw(k ? ",[" : "[").number(pt.x).raw(",").number(pt.y).raw("]");
        }
        w.raw("]}");
    }
    text(DERIVED_ENSDT);
    text(DERIVED_ENSTM);
    w.raw("}");
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

    line_writer w(stdout);
    CSNPersist p;
    for (;;) {
        const hresult hr = p.Load(stream);
        std::uint64_t size = 0;
        p.GetSizeMax(&size);
        w.raw("{\"hr\":").code(hr).raw(",\"position\":").number(p.position());
        w.raw(",\"size\":").number(static_cast<std::int64_t>(size));
        if (succeeded(hr)) {
            w.raw(",\"items\":");
            write_items(w, p);
        }
        w.raw("}");
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
