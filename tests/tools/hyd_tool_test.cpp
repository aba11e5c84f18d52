// The hyd tool as users run it: the real binary on files made with the ensemble builder. Each dump
// line must be what the library's own Load loop and item reads give for the same bytes.
#include "common/memory_stream.h"
#include "datasource/item_strings.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/item_values.h"
#include "support/scratch_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace hyd {
namespace {

using build::bytes;

struct run_result {
    int exit_code;
    std::string out, err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

const test::scratch_folder scratch("hyd-tool-test");
const std::string dir = scratch.path() + "/";

run_result run(const std::string& arguments) {
    const std::string command =
        std::string(HYD_TOOL) + " " + arguments + " >" + dir + "out 2>" + dir + "err </dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(dir + "out"), slurp(dir + "err")};
}

std::string write_file(const std::string& name, const bytes& b) {
    std::ofstream(dir + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    return dir + name;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string code(hresult hr) {
    char text[16];
    std::snprintf(text, sizeof text, "\"0x%08X\"", static_cast<unsigned>(hr));
    return text;
}

// A dump line without the record's address (item 7001), which differs from run to run.
std::string sans_address(std::string line) {
    if (const std::size_t at = line.find("\"7001\""); at != std::string::npos)
        line.erase(at, line.find('}', at) + 2 - at);
    return line;
}

// What a host sees in one dump line: Load's result, position and size, then every item.
std::string host_line(CSNPersist& p, memory_stream& s, hresult* hr) {
    *hr = p.Load(s);
    std::uint64_t size = 0;
    p.GetSizeMax(&size);
    std::string line = "{\"hr\":" + code(*hr) + ",\"position\":" + std::to_string(p.position()) +
                       ",\"size\":" + std::to_string(size);
    if (failed(*hr)) return line + "}";
    line += ",\"items\":{";
    const auto text = [&](item_value id) {
        std::string t;
        const hresult r = get_item_string(p, id, c_library_date_time_format(), &t);
        line += "\"" + std::to_string(id) + "\":{\"hr\":" + code(r) +
                (r == s_ok ? ",\"text\":\"" + t + "\"" : "") + "},";
    };
    item_value v[256], n = 0;
    item_point pts[1024];
    for (item_value id : long_items()) {
        const bool cell = profile_item_index(id, true) >= 0;
        const hresult r = cell ? get_point(p, id, HY_INDEX_ALL, pts, 1024, &n)
                               : get_long(p, id, HY_INDEX_ALL, v, 256, &n);
        line += "\"" + std::to_string(id) + "\":{\"hr\":" + code(r) +
                (cell ? ",\"points\":[" : ",\"values\":[");
        for (item_value i = 0; succeeded(r) && i < n; ++i)
            line += (i ? "," : "") +
                    (cell ? "[" + std::to_string(pts[i].x) + "," + std::to_string(pts[i].y) + "]"
                          : std::to_string(v[i]));
        line += "]},";
        if (id == 7148) text(FIX_CPU_SERIAL);
    }
    text(DERIVED_ENSDT);
    text(DERIVED_ENSTM);
    line.back() = '}';
    return line + "}";
}

TEST(Dump, EveryLineIsWhatTheHostSees) {
    bytes file;
    for (std::uint32_t i = 1; i <= 12; ++i) {
        const bytes r = build::sample_ensemble(i, 6, i % 3 != 0, i);
        file = build::concat({file, i % 4 == 1 ? build::with_bad_checksum(r) : r,
                              i == 6 ? build::noise(300, 3) : bytes{}});
    }
    file = build::concat(
        {file, bytes{0x7F}, build::sample_ensemble(13, 4), build::truncated(file, 90)});
    const run_result r = run("dump " + write_file("mixed.sne", file));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const auto lines = lines_of(r.out);
    memory_stream s(file);
    CSNPersist p;
    hresult hr = s_ok;
    std::size_t loads = 0;
    for (; loads == 0 || succeeded(hr) || hr == HY_E_BADENSEMBLE; ++loads) {
        const std::string want = host_line(p, s, &hr);
        EXPECT_EQ(sans_address(loads < lines.size() ? lines[loads] : ""), sans_address(want));
    }
    EXPECT_EQ(lines.size(), loads);
    EXPECT_EQ(run("dump " + write_file("empty.sne", {})).out,
              "{\"hr\":\"0x80040110\",\"position\":-1,\"size\":0}\n");
}

TEST(Info, RecoversEveryIntactEnsembleAfterDamage) {
    bytes file;
    std::uint32_t intact = 0;
    const auto good = [&] {
        ++intact;
        return build::sample_ensemble(intact, 12, intact % 2 == 0, 5);
    };
    const bytes spoiled = build::sample_ensemble(900, 12, true, 9);
    while (file.size() < 300000) { // the damage lies past the reader's first buffer
        const bytes b = good();
        file.insert(file.end(), b.begin(), b.end());
    }
    std::size_t first_bad = 0;
    for (const bytes& damage :
         {build::with_bad_checksum(spoiled), build::noise(300, 3), bytes{0x7F},
          build::truncated(spoiled, 150), build::with_byte4(spoiled, 1),
          build::with_byte_count(spoiled, 3),
          build::noise(131071, 4)}) { // the last: the next sync byte is the search's last read
        const bytes before = good();
        if (!first_bad) first_bad = file.size() + before.size();
        file = build::concat({file, before, damage});
    }
    const bytes out_of_order = build::sample_ensemble(0, 12, false, 5);
    file = build::concat({file, good(), out_of_order, build::truncated(spoiled, 200)});
    memory_stream s(file);
    CSNPersist p;
    int plain = 0; // what the plain host loop reads before it gives up
    for (hresult hr = s_ok; succeeded(hr) || hr == HY_E_BADENSEMBLE; plain += succeeded(hr))
        hr = p.Load(s);
    const run_result r = run("info " + write_file("damaged.sne", file));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto grouped = [](std::size_t n) {
        std::string digits = std::to_string(n);
        for (int i = int(digits.size()) - 3; i > 0; i -= 3) digits.insert(std::size_t(i), ",");
        return digits;
    };
    for (const std::string& expected : std::vector<std::string>{
             ": " + grouped(intact + 1) + " ensembles read",
             "checksum mismatch: 2 at byte " + grouped(first_bad) + ", ",
             "byte count over 10,000: 2 at byte", "byte count too small: 1 at byte",
             "cut short by the end of the data: 1 at byte",
             "131,072 bytes without a sync byte: 1 at byte",
             "recovered after damage: " + std::to_string(intact + 1 - plain) + " ensembles",
             "ensemble numbers: 0 to " + grouped(intact) + " (first 1, last 0)",
             "ended: end of data"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
}

TEST(Info, ListsTheFirst64DataTypesSeenAndCountsTheRestAsOthers) {
    bytes file;
    for (int id = 0x1045; id >= 0x1000; --id) // 70 distinct IDs, the highest seen first
        file = build::concat(
            {file, build::ensemble_builder().add(bytes{std::uint8_t(id), 0x10, 0, 0}).build()});
    const std::string out = run("info " + write_file("types.sne", file)).out;
    EXPECT_NE(out.find("0x1045 unknown"), std::string::npos) << out;
    EXPECT_NE(out.find("0x1006 unknown"), std::string::npos) << out;
    EXPECT_EQ(out.find("0x1005"), std::string::npos) << out;
    EXPECT_NE(out.find("others 6\n"), std::string::npos) << out;
}

TEST(Synth, ReproducibleAndShapedByItsOptions) {
    for (const auto& [name, seed] : {std::pair{"a", "7"}, {"b", "7"}, {"c", "8"}})
        ASSERT_EQ(run("synth " + dir + name + " --ensembles 50 --seed " + seed).exit_code, 0);
    EXPECT_EQ(slurp(dir + "a"), slurp(dir + "b"));
    EXPECT_NE(slurp(dir + "a"), slurp(dir + "c"));
    const std::string
        file = write_file("synth.sne", {}),
        options = " --ensembles 40 --cells 20 --big-numbers --bottom-every 4 --upward --beam5";
    ASSERT_EQ(run("synth " + file + options).exit_code, 0);
    const std::string info = run("info " + file).out;
    for (const char* expected :
         {"40 ensembles read", "rejected: none", "0x0600 bottom track                      10",
          "0x0A00 beam-5 velocity", "cells: 20 x 100 cm (40)", "ensemble numbers: 65,500 to 65,539",
          "time: 2026-12-05 00:00:00.00 to 2026-12-05 06:30:00.00"})
        EXPECT_NE(info.find(expected), std::string::npos) << expected << "\n" << info;
    EXPECT_NE(run("dump " + file).out.find("\"7107\":{\"hr\":\"0x00000000\",\"values\":[1]}"),
              std::string::npos); // beams up
}

TEST(Show, OneEnsembleAsAPersonReadsIt) {
    build::fixed_leader f;
    f.cells = 2;
    build::variable_leader v;
    v.ensemble_number = 7;
    v.heading = 12345;
    std::vector<std::int32_t> velocities(8, 250);
    velocities[5] = -32768; // cell 2, north: bad
    const bytes second =
        build::ensemble_builder().add(f).add(v).profile(0x0100, velocities).build();
    const std::string file =
        write_file("show.sne", build::concat({build::sample_ensemble(1, 4), second})) + " ";
    const std::pair<std::string, std::string> cases[] = {
        {"--ensemble 1", "ensemble 1: number 1,"},
        {"", "\n   7510  Bottom Velocity                          To East: 0, To North: 0,"},
        {"--ensemble 2", "   7312  Heading                                  123.45 deg\n"},
        {"--ensemble 2", "   7316  Temperature                              12.50 degC\n"},
        {"--ensemble 2",
         "\nVelocity Data (4 Beams)\n   7700  Velocity ID                              256\n"
         "   7701  Velocity                                 mm/s\n"
         "            depth    To East   To North  To Surface  Error Vel\n"
         "           546 cm        250        250         250        250\n"
         "           646 cm        250        bad         250        250\n"},
        {"--ensemble '#7' --item HEADING", "\n\nVariable Leader Data\n   7312  Heading "},
    };
    for (const auto& [arguments, shown] : cases) {
        const run_result r = run("show " + file + arguments);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find(shown), std::string::npos) << arguments << ": " << shown << r.out;
    }
    const run_result none = run("show " + file + "--ensemble 3");
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_NE(none.err.find("has no ensemble 3 (2 read)"), std::string::npos) << none.err;
}

// The integers of a JSON text, in order.
std::vector<std::string> numbers(const std::string& text) {
    static const std::regex number("-?[0-9]+");
    return {std::sregex_token_iterator(text.begin(), text.end(), number),
            std::sregex_token_iterator()};
}

// Every raw value of show --json is dump's: scalars and per-beam lists as they are, profile rows
// beside their depths as (value, depth) points.
TEST(Show, JsonAgreesWithDumpForTheRawValues) {
    const std::string file = write_file(
        "agree.sne",
        build::concat({build::sample_ensemble(1, 6), build::sample_ensemble(2, 6, false, 4)}));
    const std::string dumped = lines_of(run("dump " + file).out).at(1);
    const std::string shown = run("show --json " + file + " --ensemble 2").out;
    static const std::regex item(
        R"re(\{"id":([0-9]+),"name":"[^"]*","hr":("[^"]*")[^{}]*?)re"
        R"re((?:"depths":\[([-0-9,]*)\],)?"values":\[([-0-9,\[\]]*)\]\})re");
    int compared = 0;
    for (std::sregex_iterator m(shown.begin(), shown.end(), item), end; m != end; ++m) {
        const std::string id = (*m)[1], depths = (*m)[3];
        std::string values = (*m)[4], kind = "values";
        if (id == "7001") continue; // an address of each process's own
        if ((*m)[3].matched) {
            const auto v = numbers(values), d = numbers(depths);
            values.clear();
            for (std::size_t k = 0; k < v.size(); ++k)
                values += (k ? ",[" : "[") + v[k] + "," + d[k / (v.size() / d.size())] + "]";
            kind = "points";
        }
        const std::string want = "\"" + id + "\":{\"hr\":" + std::string((*m)[2]) + ",\"" + kind +
                                 "\":[" + values + "]}";
        EXPECT_NE(dumped.find(want), std::string::npos) << want;
        ++compared;
    }
    EXPECT_GT(compared, 80);
}

TEST(Tool, ErrorsGiveOneClearLineAndAnExitCode) {
    const std::tuple<std::string, int, const char*> rows[] = {
        {"", 2, "expects a COMMAND"},
        {"frobnicate", 2, "unknown command"},
        {"dump", 2, "expects one FILE"},
        {"dump a b", 2, "expects one FILE"},
        {"dump /no/such/file.sne", 1, "No such file"},
        {"info /tmp", 1, "is a directory"},
        {"info /no/such/file.sne", 1, "cannot read /no/such/file.sne"},
        {"synth", 2, "expects OUT"},
        {"synth x --cells 0", 2, "--cells"},
        {"synth x --cells", 2, "--cells"},
        {"synth x --ensembles 12abc", 2, "--ensembles"},
        {"synth x --seed -1", 2, "--seed"},
        {"synth x --wat", 2, "unknown option --wat"},
        {"synth /no/such/dir/x", 1, "cannot create"},
        {"show", 2, "expects FILE"},
        {"show /tmp --json", 1, "is a directory"},
        {"show x --ensemble 0", 2, "--ensemble"},
        {"show x --ensemble '#x'", 2, "--ensemble"},
        {"show x --item Nothing", 2, "not Nothing"},
        {"show x --item 99999", 2, "not 99999"},
        {"show x --item", 2, "not nothing"}};
    for (const auto& [arguments, exit_code, message] : rows) {
        const run_result r = run(arguments);
        EXPECT_EQ(r.exit_code, exit_code) << arguments << ": " << r.err;
        EXPECT_EQ(lines_of(r.err).size(), 1u) << r.err;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    for (const char* command :
         {"--help", "dump --help", "info --help", "show --help", "synth --help"})
        EXPECT_EQ(run(command).out.rfind("usage: hyd", 0), 0u) << command;
}

} // namespace
} // namespace hyd
