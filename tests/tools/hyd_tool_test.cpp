// The hyd tool as users run it: the real binary on files made with the ensemble builder. Its dump
// output is parsed and compared with what the library's own Load loop sees on the same bytes.
#include "common/memory_stream.h"
#include "ensemble/ensemble_builder.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <variant>
#include <vector>

namespace hyd {
namespace {

using build::bytes;

// --- running the tool --------------------------------------------------------------------------

struct run_result {
    int exit_code;
    std::string out;
    std::string err;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class temp_dir {
  public:
    temp_dir() {
        char name[] = "/tmp/hyd-tool-test.XXXXXX";
        path_ = mkdtemp(name);
    }
    ~temp_dir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

run_result run(const std::string& arguments) {
    static temp_dir dir;
    const std::string out = dir.file("stdout"), err = dir.file("stderr");
    const std::string command =
        std::string(HYD_TOOL) + " " + arguments + " >" + out + " 2>" + err + " </dev/null";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
}

void write_file(const std::string& path, const bytes& b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// --- a small JSON reader for the dump lines -----------------------------------------------------

struct json;
using json_object = std::map<std::string, json>;
using json_array = std::vector<json>;
struct json {
    std::variant<std::nullptr_t, long long, std::string, json_array, json_object> v;
    const json& operator[](const std::string& key) const {
        return std::get<json_object>(v).at(key);
    }
    const json& operator[](std::size_t i) const { return std::get<json_array>(v).at(i); }
    bool has(const std::string& key) const {
        const auto* o = std::get_if<json_object>(&v);
        return o && o->count(key);
    }
    long long integer() const { return std::get<long long>(v); }
    const std::string& text() const { return std::get<std::string>(v); }
    const json_array& array() const { return std::get<json_array>(v); }
    const json_object& object() const { return std::get<json_object>(v); }
};

class json_parser {
  public:
    explicit json_parser(const std::string& s) : s_(s) {}
    json parse() {
        json j = value();
        skip();
        if (at_ != s_.size()) throw std::runtime_error("trailing text");
        return j;
    }

  private:
    void skip() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t')) ++at_;
    }
    char peek() {
        skip();
        if (at_ >= s_.size()) throw std::runtime_error("unexpected end");
        return s_[at_];
    }
    void expect(char c) {
        if (peek() != c) throw std::runtime_error(std::string("expected ") + c);
        ++at_;
    }
    json value() {
        const char c = peek();
        if (c == '{') {
            ++at_;
            json_object o;
            if (peek() == '}') return ++at_, json{o};
            for (;;) {
                std::string key = string();
                expect(':');
                if (o.count(key)) throw std::runtime_error("duplicate key " + key);
                o.emplace(std::move(key), value());
                if (peek() == ',') {
                    ++at_;
                    continue;
                }
                expect('}');
                return json{o};
            }
        }
        if (c == '[') {
            ++at_;
            json_array a;
            if (peek() == ']') return ++at_, json{a};
            for (;;) {
                a.push_back(value());
                if (peek() == ',') {
                    ++at_;
                    continue;
                }
                expect(']');
                return json{a};
            }
        }
        if (c == '"') return json{string()};
        std::size_t used = 0;
        const long long n = std::stoll(s_.substr(at_), &used);
        at_ += used;
        return json{n};
    }
    std::string string() {
        expect('"');
        std::string out;
        while (at_ < s_.size() && s_[at_] != '"') {
            if (s_[at_] == '\\') ++at_;
            out.push_back(s_[at_++]);
        }
        expect('"');
        return out;
    }
    const std::string& s_;
    std::size_t at_ = 0;
};

std::vector<json> dump_lines(const std::string& out) {
    std::vector<json> lines;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) lines.push_back(json_parser(line).parse());
    return lines;
}

std::string hex(hresult hr) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
    return buffer;
}

// --- what the host loop sees --------------------------------------------------------------------

struct load_step {
    hresult hr;
    std::int64_t position;
    std::uint64_t size;
    item_value ensemble_number; // for successful loads
};

std::vector<load_step> host_loop(const bytes& file) {
    memory_stream s(file);
    CSNPersist p;
    std::vector<load_step> steps;
    for (;;) {
        const hresult hr = p.Load(s);
        std::uint64_t size = 0;
        p.GetSizeMax(&size);
        item_value number = -1, n = 0;
        if (succeeded(hr)) get_long(p, 7301, HY_INDEX_ALL, &number, 1, &n);
        steps.push_back({hr, p.position(), size, number});
        if (!succeeded(hr) && hr != HY_E_BADENSEMBLE) return steps;
    }
}

// A file with each kind of damage between intact records, numbered from 1.
struct damaged_file {
    bytes data;
    std::vector<std::uint32_t> intact; // ensemble numbers of the intact records
};

damaged_file make_damaged(bool with_long_noise) {
    damaged_file f;
    std::uint32_t number = 0;
    const auto intact = [&](std::uint8_t cells = 12) {
        ++number;
        f.intact.push_back(number);
        const bytes r = build::sample_ensemble(number, cells, number % 2 == 0, 5);
        f.data.insert(f.data.end(), r.begin(), r.end());
    };
    const auto damage = [&](const bytes& b) { f.data.insert(f.data.end(), b.begin(), b.end()); };
    const auto spoiled = [&] { return build::sample_ensemble(900 + number, 12, true, 9); };

    intact();
    intact();
    damage(build::with_bad_checksum(spoiled()));
    intact();
    damage(build::noise(300, 3));
    intact();
    damage(bytes{0x7F}); // a stray sync byte right before a record
    intact(20);
    damage(build::truncated(spoiled(), 150)); // a record cut short, then the next one
    intact();
    intact();
    damage(build::with_byte4(spoiled(), 1)); // claims more than 10,000 bytes
    intact();
    damage(build::with_byte_count(spoiled(), 3)); // claims fewer than the header holds
    intact();
    if (with_long_noise) {
        damage(build::noise(140000, 4)); // longer than one sync search may read
        intact();
    }
    damage(build::truncated(spoiled(), 200)); // and the data ends inside a record
    return f;
}

// --- dump ----------------------------------------------------------------------------------------

TEST(Dump, CleanFileOneLinePerLoadWithEveryItem) {
    temp_dir dir;
    bytes file;
    for (std::uint32_t i = 1; i <= 3; ++i) {
        const bytes r = build::sample_ensemble(i, 30, i != 2);
        file.insert(file.end(), r.begin(), r.end());
    }
    write_file(dir.file("clean.sne"), file);
    const run_result r = run("dump " + dir.file("clean.sne"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<json> lines = dump_lines(r.out);
    const std::vector<load_step> steps = host_loop(file);
    ASSERT_EQ(lines.size(), 4u);
    ASSERT_EQ(steps.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        const json& line = lines[i];
        EXPECT_EQ(line["hr"].text(), "0x00000000");
        EXPECT_EQ(line["position"].integer(), steps[i].position);
        EXPECT_EQ(line["size"].integer(), static_cast<long long>(steps[i].size));
        const json& items = line["items"];
        // 130 GetLong items, 16 profile IDs and 16 profiles, 3 texts.
        EXPECT_EQ(items.object().size(), 5u + 49u + 25u + 25u + 16u + 16u + 3u);
        EXPECT_EQ(items["7000"]["values"].array().size(), 1u);
        EXPECT_EQ(items["7000"]["values"][0].integer(), 32639);
        EXPECT_EQ(items["7301"]["values"][0].integer(), static_cast<long long>(i + 1));
        EXPECT_EQ(items["7113"]["values"][0].integer(), 30);
        EXPECT_EQ(items["7321"]["values"].array().size(), 8u);
        EXPECT_EQ(items["7701"]["hr"].text(), "0x00000000");
        ASSERT_EQ(items["7701"]["points"].array().size(), 120u);
        // Default record: transducer 37 dm, first cell 176 cm, cells of 100 cm, beams down.
        EXPECT_EQ(items["7701"]["points"][0][1].integer(), 370 + 176);
        EXPECT_EQ(items["7701"]["points"][119][1].integer(), 370 + 176 + 29 * 100);
        EXPECT_EQ(items["7700"]["values"][0].integer(), 256);
        EXPECT_EQ(items["7800"]["hr"].text(), "0x00000001"); // no beam-5 data
        EXPECT_TRUE(items["7800"]["values"].array().empty());
        EXPECT_EQ(items["7801"]["hr"].text(), "0x00000001");
        EXPECT_EQ(items["7149"]["text"].text(), "001AFF030000007E");
        EXPECT_TRUE(items.has("11000"));
        EXPECT_EQ(items["11001"]["text"].text(), "12:00:0" + std::to_string(i + 1) + ".00");
        // The bottom track of the middle record is missing: cMax zeros and S_FALSE.
        const json& bt = items["7509"];
        if (i == 1) {
            EXPECT_EQ(bt["hr"].text(), "0x00000001");
            EXPECT_EQ(bt["values"].array().size(), 256u);
        } else {
            EXPECT_EQ(bt["hr"].text(), "0x00000000");
            EXPECT_EQ(bt["values"].array().size(), 4u);
        }
    }
    EXPECT_EQ(lines[3]["hr"].text(), "0x80040110");
    EXPECT_FALSE(lines[3].has("items"));
}

TEST(Dump, DamagedFileFollowsTheHostLoopLineByLine) {
    temp_dir dir;
    const damaged_file f = make_damaged(true);
    write_file(dir.file("damaged.sne"), f.data);
    const run_result r = run("dump " + dir.file("damaged.sne"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const std::vector<json> lines = dump_lines(r.out);
    const std::vector<load_step> steps = host_loop(f.data);
    ASSERT_EQ(lines.size(), steps.size());
    bool saw_bad = false;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const json& line = lines[i];
        EXPECT_EQ(line["hr"].text(), hex(steps[i].hr)) << "line " << i;
        EXPECT_EQ(line["position"].integer(), steps[i].position) << "line " << i;
        EXPECT_EQ(line["size"].integer(), static_cast<long long>(steps[i].size)) << "line " << i;
        EXPECT_EQ(line.has("items"), succeeded(steps[i].hr)) << "line " << i;
        if (succeeded(steps[i].hr)) {
            EXPECT_EQ(line["items"]["7301"]["values"][0].integer(), steps[i].ensemble_number);
        }
        saw_bad = saw_bad || steps[i].hr == HY_E_BADENSEMBLE;
    }
    EXPECT_TRUE(saw_bad);
    // The host loop gives up on the long noise, so the last line is not the end of data.
    EXPECT_EQ(lines.back()["hr"].text(), hex(steps.back().hr));
}

// --- info ----------------------------------------------------------------------------------------

TEST(Info, RecoversEveryIntactEnsembleOfADamagedFile) {
    for (bool long_noise : {false, true}) {
        SCOPED_TRACE(long_noise ? "with long noise" : "without long noise");
        temp_dir dir;
        const damaged_file f = make_damaged(long_noise);
        write_file(dir.file("damaged.sne"), f.data);

        std::size_t plain = 0;
        for (const load_step& s : host_loop(f.data)) plain += succeeded(s.hr);
        ASSERT_LT(plain, f.intact.size()); // the damage really costs the host loop ensembles

        const run_result r = run("info " + dir.file("damaged.sne"));
        ASSERT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find(": " + std::to_string(f.intact.size()) + " ensembles read"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("recovered after damage: " + std::to_string(f.intact.size() - plain) +
                             " ensembles"),
                  std::string::npos)
            << r.out;
        for (const char* reason : {"checksum mismatch", "byte count over 10,000",
                                   "byte count too small", "cut short by the end of the data"})
            EXPECT_NE(r.out.find(reason), std::string::npos) << reason << "\n" << r.out;
        EXPECT_EQ(r.out.find("131,072 bytes without a sync byte") != std::string::npos, long_noise)
            << r.out;
        EXPECT_NE(r.out.find("ensemble numbers: 1 to " + std::to_string(f.intact.size())),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("ended: end of data"), std::string::npos) << r.out;
    }
}

TEST(Info, ReportsOffsetsOfRejectedRecords) {
    temp_dir dir;
    const bytes good = build::sample_ensemble(1, 8);
    const bytes bad = build::with_bad_checksum(build::sample_ensemble(2, 8));
    write_file(dir.file("one-bad.sne"), build::concat({good, bad, good}));
    const run_result r = run("info " + dir.file("one-bad.sne"));
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.out.find("2 ensembles read"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("checksum mismatch: 1 at byte " + std::to_string(good.size())),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("recovered after damage: 0 ensembles"), std::string::npos) << r.out;
}

TEST(Info, SummarisesTypesFirmwareCellsAndSpans) {
    temp_dir dir;
    const std::string file = dir.file("synth.sne");
    ASSERT_EQ(run("synth " + file + " --ensembles 30 --cells 12 --beam5 --big-numbers").exit_code,
              0);
    const run_result r = run("info " + file);
    ASSERT_EQ(r.exit_code, 0) << r.err;
    for (const char* expected :
         {"30 ensembles read", "rejected: none", "0x0000 fixed leader", "0x0A00 beam-5 velocity",
          "0x0600 bottom track", "firmware: 9.40 (30)", "cells: 12 x 100 cm (30)",
          "ensemble numbers: 65,500 to 65,529",
          "time: 2026-12-05 00:00:00.00 to 2026-12-05 04:50:00.00"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
}

// --- synth ---------------------------------------------------------------------------------------

TEST(Synth, ReproducibleAndShapedByItsOptions) {
    temp_dir dir;
    ASSERT_EQ(run("synth " + dir.file("a.sne") + " --ensembles 50 --seed 7").exit_code, 0);
    ASSERT_EQ(run("synth " + dir.file("b.sne") + " --ensembles 50 --seed 7").exit_code, 0);
    ASSERT_EQ(run("synth " + dir.file("c.sne") + " --ensembles 50 --seed 8").exit_code, 0);
    const std::string a = slurp(dir.file("a.sne"));
    EXPECT_EQ(a, slurp(dir.file("b.sne")));
    EXPECT_NE(a, slurp(dir.file("c.sne")));

    ASSERT_EQ(run("synth " + dir.file("big.sne") +
                  " --ensembles 40 --cells 20 --big-numbers --bottom-every 4 --upward")
                  .exit_code,
              0);
    const std::vector<json> lines = dump_lines(run("dump " + dir.file("big.sne")).out);
    ASSERT_EQ(lines.size(), 41u);
    long long last_depth = 0;
    int with_bottom = 0;
    for (std::size_t i = 0; i < 40; ++i) {
        const json& items = lines[i]["items"];
        EXPECT_EQ(items["7301"]["values"][0].integer(), 65500 + static_cast<long long>(i));
        EXPECT_EQ(items["7107"]["values"][0].integer(), 1); // beams up
        EXPECT_EQ(items["7113"]["values"][0].integer(), 20);
        with_bottom += items["7500"]["hr"].text() == "0x00000000";
        // Looking up from the bed: each cell lies above the one before.
        const json_array& pts = items["7701"]["points"].array();
        ASSERT_EQ(pts.size(), 80u);
        EXPECT_LT(pts[4][1].integer(), pts[0][1].integer());
        last_depth = pts[0][1].integer();
    }
    EXPECT_EQ(with_bottom, 10);
    EXPECT_GT(last_depth, 1500); // about 20 m of water above the transducer
}

TEST(Synth, CurrentTurnsWithTheTide) {
    temp_dir dir;
    ASSERT_EQ(run("synth " + dir.file("tide.sne") + " --ensembles 75 --cells 10").exit_code, 0);
    const std::vector<json> lines = dump_lines(run("dump " + dir.file("tide.sne")).out);
    // East velocity of the top cell over 12.5 hours of 10-minute ensembles: both signs, a flood
    // and an ebb of more than half a metre per second.
    long long lowest = 0, highest = 0;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const long long east = lines[i]["items"]["7701"]["points"][0][0].integer();
        lowest = std::min(lowest, east);
        highest = std::max(highest, east);
    }
    EXPECT_LT(lowest, -500);
    EXPECT_GT(highest, 500);
}

// --- show ----------------------------------------------------------------------------------------

TEST(Show, OneEnsembleAsAPersonReadsIt) {
    temp_dir dir;
    build::fixed_leader f;
    f.cells = 2;
    build::variable_leader v;
    v.ensemble_number = 7;
    v.heading = 12345;
    std::vector<std::int32_t> velocities(8, 250);
    velocities[5] = -32768; // cell 2, north: bad
    const std::string file = dir.file("s.sne") + " ";
    write_file(dir.file("s.sne"),
               build::concat(
                   {build::sample_ensemble(1, 4),
                    build::ensemble_builder().add(f).add(v).profile(0x0100, velocities).build()}));
    const struct {
        std::string arguments, shown;
    } cases[] = {
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
    for (const auto& c : cases) {
        const run_result r = run("show " + file + c.arguments);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_NE(r.out.find(c.shown), std::string::npos)
            << c.arguments << ": " << c.shown << r.out;
    }
    const run_result none = run("show " + file + "--ensemble 3");
    EXPECT_EQ(none.exit_code, 1);
    EXPECT_NE(none.err.find("has no ensemble 3 (2 read)"), std::string::npos) << none.err;
}

// Every number of a JSON value, depth first.
std::vector<long long> flat(const json& j) {
    if (!std::holds_alternative<json_array>(j.v)) return {j.integer()};
    std::vector<long long> out;
    for (const json& e : j.array()) std::ranges::copy(flat(e), std::back_inserter(out));
    return out;
}

TEST(Show, JsonAgreesWithDumpForTheRawValues) {
    temp_dir dir;
    write_file(dir.file("j.sne"), build::concat({build::sample_ensemble(1, 12),
                                                 build::sample_ensemble(2, 12, false, 4)}));
    const json dumped = dump_lines(run("dump " + dir.file("j.sne")).out).at(1)["items"];
    const run_result r = run("show --json " + dir.file("j.sne") + " --ensemble 2");
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const json shown = json_parser(r.out.substr(0, r.out.size() - 1)).parse();
    int compared = 0;
    for (const json& group : shown["groups"].array())
        for (const json& item : group["items"].array()) {
            const std::string id = std::to_string(item["id"].integer());
            const json& d = dumped[id];
            EXPECT_EQ(item["hr"].text(), d["hr"].text()) << id;
            if (id == "7001") continue; // an address of each process's own
            ++compared;
            if (item.has("text")) {
                EXPECT_EQ(item["text"].text(), d["text"].text()) << id;
            } else if (!item.has("depths")) {
                EXPECT_EQ(flat(item["values"]), flat(d["values"])) << id;
            } else { // rows of values beside their depths, against (value, depth) points
                ASSERT_EQ(item["values"].array().size(), item["depths"].array().size()) << id;
                std::vector<long long> points;
                const auto values = flat(item["values"]), depths = flat(item["depths"]);
                for (std::size_t k = 0; k < values.size(); ++k)
                    points.insert(points.end(), {values[k], depths[k / 4]});
                EXPECT_EQ(points, flat(d["points"])) << id;
            }
        }
    EXPECT_EQ(compared, 5 + 50 + 25 + 8 + 2 - 1); // no bottom track in the second ensemble
}

// --- arguments and files -------------------------------------------------------------------------

struct ErrorCase {
    std::string arguments;
    int exit_code;
    std::string message; // part of the one stderr line
};

void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << "hyd " << c.arguments;
}

class Errors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(Errors, OneClearLineAndANonZeroExit) {
    const ErrorCase& c = GetParam();
    const run_result r = run(c.arguments);
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Tool, Errors,
    ::testing::Values(
        ErrorCase{"", 2, "expects a COMMAND"}, ErrorCase{"frobnicate", 2, "unknown command"},
        ErrorCase{"dump", 2, "expects one FILE"}, ErrorCase{"dump a b", 2, "expects one FILE"},
        ErrorCase{"dump /no/such/file.sne", 1, "No such file"},
        ErrorCase{"info /tmp", 1, "is a directory"},
        ErrorCase{"info /no/such/file.sne", 1, "cannot read /no/such/file.sne"},
        ErrorCase{"synth", 2, "expects OUT"}, ErrorCase{"synth /tmp/x.sne --cells 0", 2, "--cells"},
        ErrorCase{"synth /tmp/x.sne --cells", 2, "--cells"},
        ErrorCase{"synth /tmp/x.sne --ensembles 12abc", 2, "--ensembles"},
        ErrorCase{"synth /tmp/x.sne --seed -1", 2, "--seed"},
        ErrorCase{"synth /tmp/x.sne --wat", 2, "unknown option --wat"},
        ErrorCase{"synth /no/such/dir/x.sne", 1, "cannot create"},
        ErrorCase{"show", 2, "expects FILE"}, ErrorCase{"show /tmp --json", 1, "is a directory"},
        ErrorCase{"show x.sne --ensemble 0", 2, "--ensemble"},
        ErrorCase{"show x.sne --ensemble '#x'", 2, "--ensemble"},
        ErrorCase{"show x.sne --item Nothing", 2, "not Nothing"},
        ErrorCase{"show x.sne --item 99999", 2, "not 99999"},
        ErrorCase{"show x.sne --item", 2, "not nothing"}));

TEST(Help, EveryCommandExplainsItself) {
    for (const char* command :
         {"--help", "dump --help", "info --help", "show --help", "synth --help"}) {
        const run_result r = run(command);
        EXPECT_EQ(r.exit_code, 0) << command;
        EXPECT_EQ(r.out.rfind("usage: hyd", 0), 0u) << command << ": " << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(Dump, EmptyFileIsOneEndOfDataLine) {
    temp_dir dir;
    write_file(dir.file("empty.sne"), {});
    const run_result r = run("dump " + dir.file("empty.sne"));
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "{\"hr\":\"0x80040110\",\"position\":-1,\"size\":0}\n");
}

} // namespace
} // namespace hyd
