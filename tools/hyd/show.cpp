// hyd show: one ensemble as a person reads it (or, with --json, as a program does), walked with
// the same groups, names, headings and display attributes that the COM object offers its hosts.
#include "cli.h"
#include "json_writer.h"

#include "common/file_stream.h"
#include "common/hy_exception.h"
#include "common/string_table.h"
#include "datasource/descriptions.h"
#include "datasource/item_strings.h"
#include "datasource/properties.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace hyd::tool {

namespace {

constexpr const char* show_help =
    "usage: hyd show FILE [--ensemble N|#NUMBER] [--item ID|NAME] [--json]\n"
    "\n"
    "Shows one ensemble of FILE group by group: item names, values scaled by their decimal\n"
    "shift and with their units, bad values as \"bad\", and profiles as tables of depth by beam\n"
    "with the column headings of the ensemble's coordinate system.\n"
    "\n"
    "  --ensemble N        the N-th ensemble read, counting from 1 (default 1)\n"
    "  --ensemble #NUMBER  the first ensemble with that ensemble number\n"
    "  --item ID|NAME      only this item, by number or name (\"Heading\", 7312)\n"
    "  --json              one JSON object: raw values with their units, shift and bad value\n";

// What show lists: numbers, profiles and texts.
constexpr item_value shown = mask_long | mask_profile | mask_text;

struct options {
    std::string path;
    std::int64_t ordinal = 1;           // among the ensembles read
    std::optional<std::int64_t> number; // or by ensemble number
    item_value item = 0;                // 0: every item
    bool json = false;
};

const item_group* group_of(std::int64_t item) {
    for (const item_group& g : item_groups())
        if (item >= g.first && item <= g.last) return &g;
    return nullptr;
}

bool same_name(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

// An item by number or by name (any case); 0 when there is none.
item_value find_item(const std::string& text) {
    if (const auto n = parse_number(text, 0, INT32_MAX))
        return group_of(*n) ? static_cast<item_value>(*n) : 0;
    for (const item_group& g : item_groups())
        for (item_value id = g.first; id <= g.last; ++id)
            if (const char* name = string_table_text(id); name && same_name(name, text)) return id;
    return 0;
}

// One entry with what was read for it.
struct item_view {
    item_property p;
    hresult hr = s_ok;
    std::vector<item_value> values;   // profiles: row after row
    std::vector<std::string> columns; // per-beam items and profiles
    std::vector<item_value> depths;   // profiles: one per row (cm)
    std::string text;                 // text items
};

item_view read_item(const item_source& src, const item_property& p) {
    item_view v;
    v.p = p;
    const CSNBasePersist& held = src.holder();
    if (p.mask & mask_text) {
        v.hr = get_item_string(held, p.item, tool_date_time_format(), &v.text);
        return v;
    }
    if (p.mask & mask_children) v.columns = column_headings(src, p.item);
    item_value n = 0;
    if (p.mask & mask_profile) {
        std::vector<item_point> points(4 * 255);
        v.hr = get_point(held, p.item, HY_INDEX_ALL, points.data(),
                         static_cast<item_value>(points.size()), &n);
        const int columns = profile_columns(p.item);
        for (item_value k = 0; succeeded(v.hr) && k < n; ++k) {
            if (k % columns == 0) v.depths.push_back(points[static_cast<std::size_t>(k)].y);
            v.values.push_back(points[static_cast<std::size_t>(k)].x);
        }
        return v;
    }
    v.values.resize(256);
    v.hr = get_long(held, p.item, HY_INDEX_ALL, v.values.data(), 256, &n);
    v.values.resize(succeeded(v.hr) ? static_cast<std::size_t>(n) : 0);
    return v;
}

// A value as people read it: times ten to the item's decimal shift (never positive), or "bad".
std::string scaled(item_value value, const item_property& p) {
    if (p.bad_flags.x != 0 && value == p.bad.x) return "bad";
    std::string digits = std::to_string(std::llabs(value));
    if (p.shift.x < 0) {
        const auto places = static_cast<std::size_t>(-p.shift.x);
        if (digits.size() <= places) digits.insert(0, places + 1 - digits.size(), '0');
        digits.insert(digits.size() - places, ".");
    }
    return (value < 0 ? "-" : "") + digits;
}

std::string with_unit(std::string text, const item_property& p) {
    const std::string unit = unit_name(p.units.x);
    return unit.empty() ? text : text + " " + unit;
}

void print_profile(const item_view& v) {
    const std::size_t columns = v.columns.size();
    std::vector<int> width;
    std::printf("        %9s", "depth");
    for (const std::string& h : v.columns) {
        width.push_back(std::max(9, static_cast<int>(h.size())));
        std::printf("  %*s", width.back(), h.c_str());
    }
    std::printf("\n");
    for (std::size_t row = 0; row < v.depths.size(); ++row) {
        std::printf("        %6ld cm", static_cast<long>(v.depths[row]));
        for (std::size_t c = 0; c < columns && row * columns + c < v.values.size(); ++c)
            std::printf("  %*s", width[c], scaled(v.values[row * columns + c], v.p).c_str());
        std::printf("\n");
    }
}

void print_text(const std::vector<std::pair<const item_group*, std::vector<item_view>>>& groups) {
    for (const auto& [group, views] : groups) {
        std::printf("\n%s\n", string_table_text(group->sequence));
        for (const item_view& v : views) {
            std::string shown_value;
            if (v.hr != s_ok) {
                shown_value = v.hr == s_false ? "(none)" : code_text(v.hr);
            } else if (v.p.mask & mask_text) {
                shown_value = v.text;
            } else if (v.p.mask & mask_profile) {
                shown_value = unit_name(v.p.units.x);
            } else {
                for (std::size_t i = 0; i < v.values.size(); ++i) {
                    if (i) shown_value += ", ";
                    if (i < v.columns.size()) shown_value += v.columns[i] + ": ";
                    shown_value += scaled(v.values[i], v.p);
                }
                shown_value = with_unit(shown_value, v.p);
            }
            std::string line = v.p.description;
            line.resize(std::max<std::size_t>(line.size(), 40), ' ');
            line += " " + shown_value;
            line.erase(line.find_last_not_of(' ') + 1);
            std::printf("  %5ld  %s\n", static_cast<long>(v.p.item), line.c_str());
            if (v.hr == s_ok && (v.p.mask & mask_profile)) print_profile(v);
        }
    }
}

void write_json_item(line_writer& w, const item_view& v) {
    w.raw("{\"id\":").number(v.p.item).raw(",\"name\":").string(v.p.description);
    w.raw(",\"hr\":").code(v.hr);
    if (v.p.mask & mask_text) {
        if (v.hr == s_ok) w.raw(",\"text\":").string(v.text);
        w.raw("}");
        return;
    }
    w.raw(",\"units\":").string(unit_name(v.p.units.x)).raw(",\"shift\":").number(v.p.shift.x);
    if (v.p.bad_flags.x != 0) w.raw(",\"bad\":").number(v.p.bad.x);
    if (!v.columns.empty()) {
        w.raw(",\"columns\":[");
        for (std::size_t i = 0; i < v.columns.size(); ++i) w.raw(i ? "," : "").string(v.columns[i]);
        w.raw("]");
    }
    const bool profile = (v.p.mask & mask_profile) != 0;
    if (profile) {
        w.raw(",\"depth_units\":\"cm\",\"depths\":[");
        for (std::size_t i = 0; i < v.depths.size(); ++i) w.raw(i ? "," : "").number(v.depths[i]);
        w.raw("]");
    }
    const std::size_t row = profile ? std::max<std::size_t>(v.columns.size(), 1) : 0;
    w.raw(",\"values\":[");
    for (std::size_t i = 0; i < v.values.size(); ++i) {
        if (i) w.raw(",");
        if (row && i % row == 0) w.raw("[");
        w.number(v.values[i]);
        if (row && (i + 1) % row == 0) w.raw("]");
    }
    w.raw("]}");
}

int show(const options& o) {
    if (const std::string why = unreadable_reason(o.path); !why.empty())
        return fail("show", exit_io, "cannot read %s: %s", o.path.c_str(), why.c_str());
    file_reader stream;
    if (!stream.open(o.path))
        return fail("show", exit_io, "cannot open %s: %s", o.path.c_str(), std::strerror(errno));

    // The host's loop: on after a good record or a damaged one, until the data ends.
    CSNPersist p;
    std::int64_t read = 0;
    item_value number = 0;
    for (;;) {
        const hresult hr = p.Load(stream);
        if (succeeded(hr)) {
            ++read;
            item_value n = 0;
            get_long(p, 7301, HY_INDEX_ALL, &number, 1, &n);
            if (o.number ? number == *o.number : read == o.ordinal) break;
        } else if (hr != HY_E_BADENSEMBLE) {
            if (hr != HY_E_ENDOFDATA && hr != e_fail)
                return fail("show", exit_io, "reading %s failed: %s", o.path.c_str(),
                            failure_text(hr, stream.last_error()).c_str());
            const std::string wanted =
                o.number ? "number " + std::to_string(*o.number) : std::to_string(o.ordinal);
            return fail("show", exit_io, "%s has no ensemble %s (%lld read)", o.path.c_str(),
                        wanted.c_str(), static_cast<long long>(read));
        }
    }

    const item_source src(p);
    std::vector<std::pair<const item_group*, std::vector<item_view>>> groups;
    for (const item_group& g : item_groups()) {
        if (make_property(src, 0, g.sequence, HY_INDEX_ALL, shown, 0, false).mask == 0) continue;
        std::vector<item_view> views;
        for (const item_property& e :
             enumerate_items(src, g.sequence, g.sequence, HY_INDEX_ALL, shown))
            if (o.item == 0 || e.item == o.item) views.push_back(read_item(src, e));
        if (!views.empty()) groups.emplace_back(&g, std::move(views));
    }
    if (groups.empty())
        return fail("show", exit_io, "ensemble %lld holds no item %ld",
                    static_cast<long long>(read), static_cast<long>(o.item));

    std::string date, time;
    get_item_string(p, DERIVED_ENSDT, tool_date_time_format(), &date);
    get_item_string(p, DERIVED_ENSTM, tool_date_time_format(), &time);
    std::uint64_t size = 0;
    p.GetSizeMax(&size);
    if (!o.json) {
        std::printf("%s, ensemble %lld: number %ld, %s %s, %llu bytes at byte %lld\n",
                    o.path.c_str(), static_cast<long long>(read), static_cast<long>(number),
                    date.c_str(), time.c_str(), static_cast<unsigned long long>(size),
                    static_cast<long long>(p.position()));
        print_text(groups);
    } else {
        line_writer w(stdout);
        w.raw("{\"file\":").string(o.path).raw(",\"ensemble\":").number(read);
        w.raw(",\"number\":").number(number).raw(",\"position\":").number(p.position());
        w.raw(",\"size\":").number(static_cast<std::int64_t>(size)).raw(",\"groups\":[");
        for (std::size_t g = 0; g < groups.size(); ++g) {
            w.raw(g ? ",{" : "{").raw("\"sequence\":").number(groups[g].first->sequence);
            w.raw(",\"name\":").string(string_table_text(groups[g].first->sequence));
            w.raw(",\"items\":[");
            for (std::size_t i = 0; i < groups[g].second.size(); ++i) {
                if (i) w.raw(",");
                write_json_item(w, groups[g].second[i]);
            }
            w.raw("]}");
        }
        w.raw("]}");
        w.end_line();
        if (!w.flush()) return fail("show", exit_io, "cannot write the output");
    }
    if (std::fflush(stdout) != 0) return fail("show", exit_io, "cannot write the output");
    return exit_ok;
}

} // namespace

int run_show(const args& a) {
    if (a.wants_help()) {
        std::fputs(show_help, stdout);
        return exit_ok;
    }
    options o;
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        const std::string& arg = a.items[i];
        const bool has_value = i + 1 < a.items.size();
        if (arg == "--json") {
            o.json = true;
        } else if (arg == "--ensemble") {
            const std::string value = has_value ? a.items[++i] : "";
            const bool by_number = !value.empty() && value[0] == '#';
            const auto n = parse_number(by_number ? value.substr(1) : value, by_number ? 0 : 1,
                                        by_number ? 16777215 : INT64_MAX);
            if (!n)
                return fail("show", exit_usage,
                            "--ensemble wants a count from 1 or #NUMBER (see hyd show --help)");
            if (by_number)
                o.number = n;
            else
                o.ordinal = *n;
        } else if (arg == "--item") {
            if (!has_value || (o.item = find_item(a.items[++i])) == 0)
                return fail("show", exit_usage, "--item wants an item number or name, not %s",
                            has_value ? a.items[i].c_str() : "nothing");
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("show", exit_usage, "unknown option %s (see hyd show --help)", arg.c_str());
        } else if (!o.path.empty()) {
            return fail("show", exit_usage, "one FILE only (see hyd show --help)");
        } else {
            o.path = arg;
        }
    }
    if (o.path.empty()) return fail("show", exit_usage, "expects FILE (see hyd show --help)");
    try {
        return show(o);
    } catch (const CHyException& fault) {
        return fail("show", exit_io, "internal fault (%s line %d)", fault.file().c_str(),
                    static_cast<int>(fault.line()));
    }
}

} // namespace hyd::tool
