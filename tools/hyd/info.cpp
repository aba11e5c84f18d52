// hyd info: a summary of an ensemble file for people. Reads the file once, in constant memory,
// and unlike the plain host loop searches again after a damaged record, so intact ensembles that
// follow one are not lost.
#include "cli.h"

#include "common/file_stream.h"

#include "ensemble/ensemble_format.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"
#include "ensemble/persist_load.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define HYD_ISATTY(fd) _isatty(fd)
#define HYD_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define HYD_ISATTY(fd) isatty(fd)
#define HYD_FILENO(f) fileno(f)
#endif

namespace hyd::tool {

namespace {

constexpr const char* info_help =
    "usage: hyd info FILE\n"
    "\n"
    "Summarises the ensembles of FILE: how many were read, which were rejected and why (with\n"
    "their byte offsets), the data types present, firmware versions, cell count and size, and\n"
    "the span of ensemble numbers and times. After a damaged record the search starts again\n"
    "just after that record's first sync byte, so intact ensembles behind it are recovered.\n"
    "Shows progress on a terminal for long files.\n";

constexpr std::size_t offsets_listed = 10; // per reason; the rest are only counted
constexpr std::size_t distinct_kept = 64;  // per table; more distinct values go to "others"

std::string grouped(std::uint64_t n) {
    std::string digits = std::to_string(n);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
        digits.insert(static_cast<std::size_t>(i), ",");
    return digits;
}

std::string megabytes(std::uint64_t bytes) {
    char buffer[32];
    if (bytes >= (1ull << 30))
        std::snprintf(buffer, sizeof buffer, "%.1f GB", bytes / double(1ull << 30));
    else
        std::snprintf(buffer, sizeof buffer, "%.1f MB", bytes / double(1ull << 20));
    return buffer;
}

const char* type_name(std::uint16_t id) {
    switch (id) {
    case fixed_leader_id:
        return "fixed leader";
    case variable_leader_id:
        return "variable leader";
    case velocity_id:
        return "velocity";
    case correlation_id:
        return "correlation";
    case echo_intensity_id:
        return "echo intensity";
    case percent_good_id:
        return "percent good";
    case status_id:
        return "status";
    case bottom_track_id:
        return "bottom track";
    case good_pings_id:
        return "good pings";
    case sum_squared_velocity_id:
        return "sum of squared velocities";
    case sum_velocity_id:
        return "sum of velocities";
    case b5_velocity_id:
        return "beam-5 velocity";
    case b5_correlation_id:
        return "beam-5 correlation";
    case b5_echo_intensity_id:
        return "beam-5 echo intensity";
    case b5_percent_good_id:
        return "beam-5 percent good";
    case b5_status_id:
        return "beam-5 status";
    case b5_good_pings_id:
        return "beam-5 good pings";
    case b5_sum_squared_velocity_id:
        return "beam-5 sum of squared velocities";
    case b5_sum_velocity_id:
        return "beam-5 sum of velocities";
    default:
        return "unknown";
    }
}

// A counter of distinct values that stops growing after distinct_kept of them.
template <typename Key> struct tally {
    std::vector<std::pair<Key, std::uint64_t>> counts; // in order of first sight
    std::uint64_t others = 0;
    void add(const Key& k, std::uint64_t times) {
        for (auto& [key, n] : counts)
            if (key == k) {
                n += times;
                return;
            }
        if (counts.size() < distinct_kept)
            counts.emplace_back(k, times);
        else
            others += times;
    }
    std::vector<std::pair<Key, std::uint64_t>> sorted() const {
        auto v = counts;
        std::sort(v.begin(), v.end());
        return v;
    }
};

// The data types: counted in tables indexed by ID, the cheapest count for the dozen or so types
// every record carries; a table of 256 counters is made for each high byte that occurs. The first
// distinct_kept IDs seen are listed, the rest counted as others.
struct type_tally {
    using counters = std::array<std::uint64_t, 256>;
    std::array<std::unique_ptr<counters>, 256> counts;
    std::vector<std::uint16_t> seen; // in order of first sight
    void add(std::uint16_t id) {
        auto& table = counts[id >> 8];
        if (!table) table = std::make_unique<counters>();
        if ((*table)[id & 0xFF]++ == 0) seen.push_back(id);
    }
    std::uint64_t count(std::uint16_t id) const { return (*counts[id >> 8])[id & 0xFF]; }
    std::uint64_t others() const {
        std::uint64_t n = 0;
        for (std::size_t i = distinct_kept; i < seen.size(); ++i) n += count(seen[i]);
        return n;
    }
    std::vector<std::pair<std::uint16_t, std::uint64_t>> sorted() const {
        std::vector<std::pair<std::uint16_t, std::uint64_t>> v;
        for (std::size_t i = 0; i < seen.size() && i < distinct_kept; ++i)
            v.emplace_back(seen[i], count(seen[i]));
        std::sort(v.begin(), v.end());
        return v;
    }
};

struct rejection {
    std::uint64_t count = 0;
    std::vector<std::int64_t> offsets;
    void add(std::int64_t at) {
        ++count;
        if (offsets.size() < offsets_listed) offsets.push_back(at);
    }
};

// Ensemble time as one sortable number: each field a byte (the year two), packed in order of
// significance.
std::int64_t time_key(int year, const item_value* month_to_hundredths) {
    std::int64_t key = year;
    for (int i = 0; i < 6; ++i) key = key << 8 | (month_to_hundredths[i] & 0xFF);
    return key;
}

std::string time_text(std::int64_t key) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d.%02d", int(key >> 48),
                  int(key >> 40 & 0xFF), int(key >> 32 & 0xFF), int(key >> 24 & 0xFF),
                  int(key >> 16 & 0xFF), int(key >> 8 & 0xFF), int(key & 0xFF));
    return buffer;
}

struct summary {
    std::uint64_t read = 0;
    std::uint64_t long_leaders = 0;
    std::uint64_t recovered = 0;
    std::uint64_t false_starts = 0;
    std::map<std::string, rejection> rejected;
    type_tally types;
    tally<int> firmware;
    tally<std::pair<int, int>> cells;
    // A file's fixed leader seldom changes: its fields are read again only when its bytes do,
    // and the records of a run that share it are counted together (flush_fixed).
    std::vector<std::uint8_t> fixed;
    int run_firmware = 0;
    std::pair<int, int> run_cells;
    std::uint64_t run_records = 0;
    bool have_numbers = false;
    std::int64_t first_number = 0, last_number = 0, min_number = 0, max_number = 0;
    bool have_time = false;
    std::int64_t first_time = 0, last_time = 0, min_time = 0, max_time = 0; // time_key
};

void flush_fixed(summary& s) {
    if (!s.run_records) return;
    s.firmware.add(s.run_firmware, s.run_records);
    s.cells.add(s.run_cells, s.run_records);
    s.run_records = 0;
}

void take(summary& s, const CSNBasePersist& p) {
    for (int i = 0, n = p.GetBuffer(nullptr)[5]; i < n; ++i)
        if (p.GetTypeAt(i)) s.types.add(p.type_id(i));
    const item_reader items(p);
    if (!items.has_leaders()) return;
    const std::uint8_t* fixed = items.fixed_leader().data;
    const auto fixed_size = static_cast<std::size_t>(items.fixed_leader().size);
    if (!s.run_records || !std::equal(fixed, fixed + fixed_size, s.fixed.begin(), s.fixed.end())) {
        flush_fixed(s);
        s.fixed.assign(fixed, fixed + fixed_size);
        static const item_plan fixed_fields(std::array<item_value, 3>{7101, FIX_NBINS, 7115});
        item_value f[3];
        items.values(fixed_fields, f);
        s.run_firmware = f[0];
        s.run_cells = {f[1], f[2]};
    }
    ++s.run_records;
    static const item_plan variable_fields(std::array<item_value, 8>{
        7301, VAR_TYEAR, VAR_TMONTH, VAR_TDAY, VAR_THOUR, VAR_TMIN, VAR_TSEC, VAR_THSEC});
    item_value v[8];
    items.values(variable_fields, v);
    const std::int64_t number = v[0];
    if (!s.have_numbers) {
        s.first_number = s.min_number = s.max_number = number;
        s.have_numbers = true;
    }
    s.last_number = number;
    s.min_number = std::min(s.min_number, number);
    s.max_number = std::max(s.max_number, number);

    const std::int64_t time = time_key(v[1] + (v[1] < 80 ? 2000 : 1900), v + 2);
    if (!s.have_time) {
        s.first_time = s.min_time = s.max_time = time;
        s.have_time = true;
    }
    s.last_time = time;
    s.min_time = std::min(s.min_time, time);
    s.max_time = std::max(s.max_time, time);
}

class progress {
  public:
    explicit progress(std::uint64_t total)
        : total_(total), shown_(total >= (32u << 20) && HYD_ISATTY(HYD_FILENO(stderr))) {}
    void update(byte_stream& s) {
        if (!shown_ || ++calls_ % 4096 != 0) return;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_ < std::chrono::milliseconds(250)) return;
        last_ = now;
        std::uint64_t at = 0;
        s.seek(0, seek_origin::cur, &at);
        std::fprintf(stderr, "\rhyd info: %3d%% of %s", int(100.0 * at / double(total_)),
                     megabytes(total_).c_str());
        std::fflush(stderr);
        drawn_ = true;
    }
    void clear() {
        if (drawn_) std::fprintf(stderr, "\r%40s\r", "");
        drawn_ = false;
    }

  private:
    std::uint64_t total_;
    bool shown_;
    bool drawn_ = false;
    std::uint64_t calls_ = 0;
    std::chrono::steady_clock::time_point last_{};
};

void print(const std::string& path, std::uint64_t file_size, const summary& s, hresult ended,
           std::uint64_t ended_at) {
    std::printf("%s: %s ensembles read (%s bytes)\n", path.c_str(), grouped(s.read).c_str(),
                grouped(file_size).c_str());
    if (s.long_leaders)
        std::printf("  with a variable leader over 1,024 bytes (HY_S_LONGLEADER): %s\n",
                    grouped(s.long_leaders).c_str());
    std::uint64_t rejected = 0;
    for (const auto& [reason, r] : s.rejected) rejected += r.count;
    std::printf("  rejected: %s\n", rejected ? grouped(rejected).c_str() : "none");
    for (const auto& [reason, r] : s.rejected) {
        std::printf("    %s: %s at byte", reason.c_str(), grouped(r.count).c_str());
        for (std::size_t i = 0; i < r.offsets.size(); ++i)
            std::printf("%s %s", i ? "," : "",
                        grouped(static_cast<std::uint64_t>(r.offsets[i])).c_str());
        if (r.count > r.offsets.size()) std::printf(", ...");
        std::printf("\n");
    }
    if (rejected)
        std::printf("  recovered after damage: %s ensembles the plain host loop would have "
                    "skipped\n",
                    grouped(s.recovered).c_str());
    if (s.false_starts)
        std::printf("  sync pairs inside damaged records that led nowhere: %s\n",
                    grouped(s.false_starts).c_str());
    std::printf("  ended: %s at byte %s\n",
                ended == HY_E_ENDOFDATA ? "end of data" : code_text(ended).c_str(),
                grouped(ended_at).c_str());
    if (!s.read) return;

    std::printf("  data types:\n");
    for (const auto& [id, n] : s.types.sorted())
        std::printf("    0x%04X %-33s %s\n", id, type_name(id), grouped(n).c_str());
    if (const std::uint64_t others = s.types.others())
        std::printf("    others %s\n", grouped(others).c_str());
    std::printf("  firmware:");
    for (const auto& [v, n] : s.firmware.sorted())
        std::printf(" %d.%02d (%s)", v / 100, v % 100, grouped(n).c_str());
    std::printf("\n  cells:");
    for (const auto& [c, n] : s.cells.sorted())
        std::printf(" %d x %d cm (%s)", c.first, c.second, grouped(n).c_str());
    std::printf("\n");
    if (s.have_numbers) {
        std::printf("  ensemble numbers: %s to %s", grouped(s.min_number).c_str(),
                    grouped(s.max_number).c_str());
        if (s.first_number != s.min_number || s.last_number != s.max_number)
            std::printf(" (first %s, last %s)", grouped(s.first_number).c_str(),
                        grouped(s.last_number).c_str());
        std::printf("\n");
    }
    if (s.have_time) {
        std::printf("  time: %s to %s", time_text(s.min_time).c_str(),
                    time_text(s.max_time).c_str());
        if (s.first_time != s.min_time || s.last_time != s.max_time)
            std::printf(" (first %s, last %s)", time_text(s.first_time).c_str(),
                        time_text(s.last_time).c_str());
        std::printf("\n");
    }
}

} // namespace

int run_info(const args& a) {
    if (a.wants_help()) {
        std::fputs(info_help, stdout);
        return exit_ok;
    }
    if (a.items.size() != 1)
        return fail("info", exit_usage, "expects one FILE (see hyd info --help)");
    const std::string& path = a.items[0];
    if (const std::string why = unreadable_reason(path); !why.empty())
        return fail("info", exit_io, "cannot read %s: %s", path.c_str(), why.c_str());
    file_reader stream;
    if (!stream.open(path))
        return fail("info", exit_io, "cannot open %s: %s", path.c_str(), std::strerror(errno));
    std::uint64_t file_size = 0;
    if (failed(stream.size(&file_size)))
        return fail("info", exit_io, "cannot size %s", path.c_str());

    summary s;
    progress bar(file_size);
    CSNPersist p;
    // Everything before skipped_until the plain host loop would never have looked at; with
    // plain_stopped it would have given up altogether.
    std::uint64_t skipped_until = 0;
    bool plain_stopped = false;
    // End of the last rejected record's claimed bytes: sync pairs found before it are false starts.
    std::uint64_t damaged_until = 0;
    hresult hr = s_ok;
    for (;;) {
        bar.update(stream);
        const std::uint64_t start = stream.position();
        hr = p.LoadFrom(stream); // Load, its stream calls made directly
        if (succeeded(hr)) {
            ++s.read;
            if (hr == HY_S_LONGLEADER) ++s.long_leaders;
            if (plain_stopped || static_cast<std::uint64_t>(p.position()) < skipped_until)
                ++s.recovered;
            take(s, p);
            continue;
        }
        const std::uint64_t after = stream.position();
        std::int64_t at = -1;
        std::string reason;
        std::uint64_t claimed_end = after;
        switch (p.last_reason()) {
        case load_reason::bad_checksum:
            at = p.position();
            reason = "checksum mismatch";
            claimed_end = static_cast<std::uint64_t>(at) + p.record_size();
            break;
        case load_reason::too_long:
        case load_reason::too_short:
            at = p.last_start();
            reason = p.last_reason() == load_reason::too_long ? "byte count over 10,000"
                                                              : "byte count too small";
            break;
        case load_reason::cut_short:
            at = p.position();
            reason = "cut short by the end of the data";
            plain_stopped = true;
            break;
        case load_reason::no_sync:
            // The last byte read was never looked at.
            at = static_cast<std::int64_t>(start);
            reason = "131,072 bytes without a sync byte";
            plain_stopped = true;
            claimed_end = after - 1;
            break;
        default:
            break; // the end of the data, or a read error
        }
        if (reason.empty()) break;
        if (static_cast<std::uint64_t>(at) < damaged_until && hr != e_fail) {
            ++s.false_starts;
        } else {
            s.rejected[reason].add(at);
            damaged_until = std::max(damaged_until, claimed_end);
        }
        skipped_until = std::max(skipped_until, after);
        const std::int64_t resume = hr == e_fail ? static_cast<std::int64_t>(after) - 1 : at + 1;
        if (failed(stream.seek(resume, seek_origin::set, nullptr))) break;
    }
    bar.clear();
    flush_fixed(s);
    const std::uint64_t ended_at = stream.position();
    print(path, file_size, s, hr, ended_at);
    if (std::fflush(stdout) != 0) return fail("info", exit_io, "cannot write the output");
    if (hr != HY_E_ENDOFDATA)
        return fail("info", exit_io, "reading %s failed: %s", path.c_str(),
                    failure_text(hr, stream.last_error()).c_str());
    return exit_ok;
}

} // namespace hyd::tool
