// hyd deploy, stop, wake, probe and setup: the library's instrument dialogue from Linux, over a
// serial device (or a pseudo-terminal) through the termios port. deploy does what a host's
// Initialize does, shows what the instrument sends as a log window would and, with --capture, then
// records everything the instrument sends to a file. probe and setup find the instrument's serial
// settings and change them, showing the search's progress as a host's windows would.
#include "cli.h"

#include "common/file_stream.h"
#include "common/memory_stream.h"
#include "ensemble/item_values.h"
#include "ensemble/persist.h"
#include "hylib/comm_setup.h"
#include "hylib/device_control.h"
#include "hylib/termios_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace hyd::tool {

namespace {

constexpr const char* deploy_help =
    "usage: hyd deploy PORT [options]\n"
    "\n"
    "Prepares the instrument on serial port PORT (a device such as /dev/ttyUSB0) for a run, as a\n"
    "host's Initialize does: wakes it with a line break, sends the commands of the command file\n"
    "(CS and CB lines are refused and reported), sends the generated CF command and cs, which\n"
    "starts pinging. What the instrument sends is shown as it arrives.\n"
    "  --commands FILE   command file: one command per CR LF-ended line\n"
    "  --auto            CF with 1111X instead of 0111X\n"
    "  --baud B          the port's baud rate, one the instrument can use (default 9600)\n"
    "  --parity P        the port's parity: none (default), even, odd, mark or space\n"
    "  --stop S          the port's stop bits: 1 (default) or 2\n"
    "  --break-string    wake with \"=======\" instead of a line break\n"
    "  --timeout MS      read time-out per byte (default 4000)\n"
    "  --capture OUT     then append everything the instrument sends to OUT, with a status\n"
    "                    line, until Ctrl-C, a hang-up of the line or --count ensembles\n"
    "  --count N         stop capturing after N ensembles\n";

constexpr const char* stop_help =
    "usage: hyd stop PORT [--baud B] [--parity P] [--stop S] [--break-string] [--timeout MS]\n"
    "\n"
    "Breaks in on the instrument, which stops pinging, as a host's Close does. When the banner\n"
    "is lost among ensembles that were already on their way, it breaks in once more.\n";

constexpr const char* wake_help =
    "usage: hyd wake PORT [--baud B] [--parity P] [--stop S] [--break-string] [--timeout MS]\n"
    "\n"
    "Tells whether the instrument answers a wake-up (two tries); exit status 0 when it does.\n";

constexpr const char* probe_help =
    "usage: hyd probe PORT [--break-string] [--timeout MS]\n"
    "\n"
    "Finds the instrument's serial settings as a host's SearchSettings does: tries 9600, 19200,\n"
    "38400, 57600, 115200, 4800, 2400, 1200 and 300 bps without parity, then with even parity,\n"
    "two wake-ups at each, and asks the instrument that answers for its parity and stop bits.\n"
    "Exit status 0 when found, 1 when no setting answers.\n"
    "  --timeout MS      read time-out per byte (default 4000): a silent setting costs it\n";

constexpr const char* setup_help =
    "usage: hyd setup PORT --baud B [--parity P] [--stop S] [--break-string] [--timeout MS]\n"
    "\n"
    "Finds the instrument's settings as hyd probe does, then changes them as a host's\n"
    "ChangeSettings does: CB with the new settings, the port follows, CK saves them.\n"
    "  --baud B          300, 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200\n"
    "  --parity P        none (default), even, odd, mark or space\n"
    "  --stop S          1 (default) or 2\n";

// Parity names in the order of their DCB codes.
constexpr const char* parity_names[] = {"none", "odd", "even", "mark", "space"};

cancel_pipe* g_cancel = nullptr;

extern "C" void on_signal(int) {
    if (g_cancel) g_cancel->signal();
}

// Ctrl-C, a terminated or hung-up session end the current wait cleanly.
void cancel_on_signals(cancel_pipe& cancel) {
    g_cancel = &cancel;
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &sa, nullptr);
}

// The log window on a terminal: text as it comes, other bytes as <XX>.
class terminal_log final : public log_window {
  public:
    void NewCommData(const char* data, std::uint32_t length) override {
        for (std::uint32_t i = 0; i < length; ++i) {
            const auto c = static_cast<unsigned char>(data[i]);
            if (c == '\r') continue; // every line ends CR LF; LF alone starts the next one
            if (c == '\n' || c == '\t' || (c >= 0x20 && c < 0x7F))
                std::fputc(c, stdout);
            else
                std::printf("<%02X>", c);
        }
        std::fflush(stdout);
    }
    void ShowWindowAsync(long) override {}
    bool AskContinue(const std::string& question) override {
        const std::size_t cut = question.rfind("\r\n");
        const std::string text = cut == std::string::npos ? question : question.substr(cut + 2);
        std::printf("\n%s [y/N] ", text.c_str());
        if (!isatty(STDIN_FILENO)) {
            std::printf("no (nobody at the terminal to answer)\n");
            std::fflush(stdout);
            return false;
        }
        std::fflush(stdout);
        char answer[16] = {};
        return std::fgets(answer, sizeof answer, stdin) && (answer[0] == 'y' || answer[0] == 'Y');
    }
};

struct line_options {
    std::string port;
    int baud = 9600;
    bool baud_given = false;
    std::uint32_t parity = 0;    // DCB code
    std::uint32_t stop_bits = 0; // DCB code
    bool break_string = false;
    int timeout_ms = 4000;
    std::string commands;
    bool automatic = false;
    std::string capture;
    std::uint64_t count = 0;
};

// Parses PORT and the options `command` takes; an empty string, or the reason it failed.
std::string parse(const char* command, const args& a, line_options& o) {
    const bool deploy = std::strcmp(command, "deploy") == 0;
    const bool probe = std::strcmp(command, "probe") == 0;
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        const std::string& s = a.items[i];
        const bool has_value = i + 1 < a.items.size();
        auto number = [&](std::int64_t low, std::int64_t high) {
            return has_value ? parse_number(a.items[++i], low, high) : std::nullopt;
        };
        if (!probe && s == "--baud") {
            const auto v = number(1, 4000000);
            if (!v || !is_table_baud(static_cast<int>(*v)))
                return "--baud takes 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600 or 115200";
            o.baud = static_cast<int>(*v);
            o.baud_given = true;
        } else if (!probe && s == "--parity") {
            const auto* end = std::end(parity_names);
            const auto* at = has_value
                                 ? std::find_if(std::begin(parity_names), end,
                                                [&](const char* n) { return a.items[i + 1] == n; })
                                 : end;
            if (at == end) return "--parity takes none, even, odd, mark or space";
            o.parity = static_cast<std::uint32_t>(at - std::begin(parity_names));
            ++i;
        } else if (!probe && s == "--stop") {
            const auto v = number(1, 2);
            if (!v) return "--stop takes 1 or 2";
            o.stop_bits = *v == 2 ? 2 : 0;
        } else if (s == "--timeout") {
            const auto v = number(1, 3600000);
            if (!v) return "--timeout takes milliseconds, 1 to 3600000";
            o.timeout_ms = static_cast<int>(*v);
        } else if (s == "--break-string") {
            o.break_string = true;
        } else if (deploy && s == "--auto") {
            o.automatic = true;
        } else if (deploy && (s == "--commands" || s == "--capture") && has_value) {
            (s == "--commands" ? o.commands : o.capture) = a.items[++i];
        } else if (deploy && s == "--count") {
            const auto v = number(1, 1ll << 40);
            if (!v) return "--count takes a number of ensembles, at least 1";
            o.count = static_cast<std::uint64_t>(*v);
        } else if (s.starts_with("--") || !o.port.empty()) {
            return "unexpected argument " + s;
        } else {
            o.port = s;
        }
    }
    if (o.port.empty()) return "expects a PORT";
    if (std::strcmp(command, "setup") == 0 && !o.baud_given) return "expects --baud";
    if (o.count && o.capture.empty()) return "--count goes with --capture";
    return {};
}

std::unique_ptr<termios_port> open_port(const char* command, const line_options& o) {
    std::string why;
    // probe and setup find the settings themselves.
    const bool search = std::strcmp(command, "probe") == 0 || std::strcmp(command, "setup") == 0;
    auto port = search ? termios_port::open(o.port, 9600, &why)
                       : termios_port::open(o.port, o.baud, &why, o.parity, o.stop_bits);
    if (!port) {
        fail(command, exit_io, "cannot use %s: %s", o.port.c_str(), why.c_str());
        return nullptr;
    }
    port->set_break_type(o.break_string ? 1 : 0);
    port->set_read_timeout_ms(o.timeout_ms);
    return port;
}

std::string dialogue_failure(hresult hr) {
    switch (hr) {
    case HY_E_NOWAKEUP:
        return "the instrument does not answer (no banner after the wake-up)";
    case HY_E_TIMEOUT:
        return "the instrument stopped answering (read time-out)";
    case HY_E_CANCELLED:
        return "cancelled";
    case HY_E_CMDERROR:
        return "a command ended in error";
    default:
        return "the dialogue failed: " + code_text(hr);
    }
}

// Counts the ensembles in what the instrument sends, as the bytes come.
class ensemble_tally {
  public:
    std::uint64_t ensembles = 0;
    std::uint64_t rejected = 0;
    std::int64_t last_number = -1;
    std::string last_time;

    // Takes the bytes just read and returns how many of them belong to the capture: all, or with a
    // limit (0: none) those up to the end of the ensemble that reaches it.
    std::size_t feed(const std::uint8_t* data, std::size_t size, std::uint64_t limit) {
        const std::size_t before = pending_.size();
        pending_.insert(pending_.end(), data, data + size);
        std::size_t at = 0, keep = size;
        for (;;) {
            const std::uint8_t sync[] = {0x7F, 0x7F};
            const auto found = std::search(pending_.begin() + static_cast<std::ptrdiff_t>(at),
                                           pending_.end(), std::begin(sync), std::end(sync));
            if (found == pending_.end()) {
                at = pending_.size() - (!pending_.empty() && pending_.back() == 0x7F ? 1 : 0);
                break;
            }
            at = static_cast<std::size_t>(found - pending_.begin());
            memory_stream rest(std::span<const std::uint8_t>(pending_).subspan(at));
            CSNPersist p;
            const hresult hr = p.Load(rest);
            if (hr == HY_E_ENDOFDATA) break; // the rest is still on its way
            if (failed(hr)) {
                ++rejected;
                ++at;
                continue;
            }
            ++ensembles;
            take(p);
            at += rest.position();
            if (limit && ensembles >= limit) {
                keep = at - before; // the ensemble ends in these bytes: earlier ones were counted
                break;
            }
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
        return keep;
    }

  private:
    void take(const CSNPersist& p) {
        item_value v[8] = {};
        static constexpr item_value items[] = {7301,      VAR_TYEAR, VAR_TMONTH, VAR_TDAY,
                                               VAR_THOUR, VAR_TMIN,  VAR_TSEC,   VAR_THSEC};
        for (int i = 0; i < 8; ++i) {
            item_value n = 0;
            get_long(p, items[i], HY_INDEX_ALL, &v[i], 1, &n);
        }
        last_number = v[0];
        char text[40];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%02d",
                      static_cast<int>(v[1] + (v[1] < 80 ? 2000 : 1900)), static_cast<int>(v[2]),
                      static_cast<int>(v[3]), static_cast<int>(v[4]), static_cast<int>(v[5]),
                      static_cast<int>(v[6]), static_cast<int>(v[7]));
        last_time = text;
    }

    std::vector<std::uint8_t> pending_;
};

std::string status(const ensemble_tally& t, std::uint64_t bytes) {
    std::string s = std::to_string(t.ensembles) + " ensembles, " + std::to_string(bytes) + " bytes";
    if (t.last_number >= 0) s += ", last #" + std::to_string(t.last_number) + " at " + t.last_time;
    return s + ", " + std::to_string(t.rejected) + " rejected";
}

// Appends all the instrument sends to out (already open) until cancelled, hung up or count.
int capture(termios_port& port, int out, const line_options& o, cancel_pipe& cancel) {
    const bool live = isatty(STDERR_FILENO);
    ensemble_tally tally;
    std::uint64_t bytes = 0;
    auto shown = std::chrono::steady_clock::now();
    auto synced = shown;
    int result = exit_ok;
    std::uint8_t buffer[4096];
    for (;;) {
        std::size_t n = 0;
        try {
            n = port.read_some(buffer, sizeof buffer, &cancel);
        } catch (int) {
            result = fail("deploy", exit_io, "the line hung up");
            break;
        }
        if (n == 0) break; // Ctrl-C or a signal
        n = tally.feed(buffer, n, o.count);
        for (std::size_t done = 0; done < n;) {
            const ssize_t w = ::write(out, buffer + done, n - done);
            if (w < 0 && errno == EINTR) continue;
            if (w < 0) {
                fail("deploy", exit_io, "cannot write %s: %s", o.capture.c_str(),
                     std::strerror(errno));
                return exit_io;
            }
            done += static_cast<std::size_t>(w);
        }
        bytes += n;
        const auto now = std::chrono::steady_clock::now();
        if (now - synced > std::chrono::seconds(1)) {
            fdatasync(out);
            synced = now;
        }
        if (live && now - shown > std::chrono::milliseconds(200)) {
            std::fprintf(stderr, "\r\033[Kcapturing: %s", status(tally, bytes).c_str());
            shown = now;
        }
        if (o.count && tally.ensembles >= o.count) break;
    }
    fdatasync(out);
    if (live) std::fprintf(stderr, "\r\033[K");
    std::printf("\ncaptured to %s: %s\n", o.capture.c_str(), status(tally, bytes).c_str());
    return result;
}

// The search's progress as a host's windows show it: the text, then a bar of the attempts.
class terminal_progress final : public setup::search_progress {
  public:
    void range(int low, int high) override { low_ = low, high_ = high; }
    void position(int attempt) override {
        const int width = 36;
        const int done = (attempt - low_ + 1) * width / (high_ - low_ + 1);
        std::string bar = "[" + std::string(done, '#') + std::string(width - done, '.') + "]";
        if (live_)
            std::printf("\r\033[K%s %s", text_.c_str(), bar.c_str());
        else
            std::printf("%s %s %d/%d\n", text_.c_str(), bar.c_str(), attempt - low_ + 1,
                        high_ - low_ + 1);
        std::fflush(stdout);
    }
    void text(const std::string& text) override { text_ = text; }
    // Ends the line the bar was drawn on.
    void done() const {
        if (live_) std::printf("\r\033[K");
    }

  private:
    bool live_ = isatty(STDOUT_FILENO);
    int low_ = 0, high_ = 1;
    std::string text_;
};

std::string describe(const setup::settings& s) {
    return std::to_string(s.baud) + " bps, " + parity_names[s.parity] + " parity, " +
           (s.stop_bits == 2 ? "2 stop bits" : "1 stop bit");
}

// Searches with progress on the terminal; false after the failure was reported.
bool find_settings(const char* command, termios_port& port, const line_options& o,
                   setup::settings* found) {
    cancel_pipe cancel;
    cancel_on_signals(cancel);
    terminal_progress progress;
    const hresult hr = setup::search(port, port, &progress, &cancel, found);
    g_cancel = nullptr;
    progress.done();
    if (hr == e_fail)
        fail(command, exit_io, "%s: no answer at any setting", o.port.c_str());
    else if (failed(hr))
        fail(command, exit_io, "%s", dialogue_failure(hr).c_str());
    else
        std::printf("%s: the instrument answers at %s\n", o.port.c_str(), describe(*found).c_str());
    return succeeded(hr);
}

} // namespace

int run_probe(const args& a) {
    if (a.wants_help()) return std::fputs(probe_help, stdout), exit_ok;
    line_options o;
    if (const std::string why = parse("probe", a, o); !why.empty())
        return fail("probe", exit_usage, "%s (see hyd probe --help)", why.c_str());
    const auto port = open_port("probe", o);
    setup::settings found;
    return port && find_settings("probe", *port, o, &found) ? exit_ok : exit_io;
}

int run_setup(const args& a) {
    if (a.wants_help()) return std::fputs(setup_help, stdout), exit_ok;
    line_options o;
    if (const std::string why = parse("setup", a, o); !why.empty())
        return fail("setup", exit_usage, "%s (see hyd setup --help)", why.c_str());
    const auto port = open_port("setup", o);
    setup::settings found;
    if (!port || !find_settings("setup", *port, o, &found)) return exit_io;
    const setup::settings wanted{static_cast<std::uint32_t>(o.baud), o.parity, o.stop_bits};
    if (const hresult hr = setup::change(*port, *port, wanted); failed(hr))
        return fail("setup", exit_io, "%s", dialogue_failure(hr).c_str());
    std::printf("%s: the instrument now uses %s, saved\n", o.port.c_str(),
                describe(wanted).c_str());
    return exit_ok;
}

int run_deploy(const args& a) {
    if (a.wants_help()) return std::fputs(deploy_help, stdout), exit_ok;
    line_options o;
    if (const std::string why = parse("deploy", a, o); !why.empty())
        return fail("deploy", exit_usage, "%s (see hyd deploy --help)", why.c_str());
    // Every file is checked before the instrument is touched.
    file_reader commands;
    bool have_commands = false;
    if (!o.commands.empty() && !(have_commands = commands.open(o.commands)))
        return fail("deploy", exit_io, "cannot read %s: %s", o.commands.c_str(),
                    std::strerror(errno));
    int out = -1;
    if (!o.capture.empty()) {
        out = ::open(o.capture.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (out < 0)
            return fail("deploy", exit_io, "cannot write %s: %s", o.capture.c_str(),
                        std::strerror(errno));
    }
    const auto port = open_port("deploy", o);
    int result = exit_io;
    if (port) {
        cancel_pipe cancel;
        cancel_on_signals(cancel);
        terminal_log log;
        const hresult hr = device::initialize(*port, o.automatic,
                                              have_commands ? &commands : nullptr, &log, &cancel);
        std::printf("\n");
        if (failed(hr))
            fail("deploy", exit_io, "%s", dialogue_failure(hr).c_str());
        else
            result = out >= 0 ? capture(*port, out, o, cancel) : exit_ok;
        g_cancel = nullptr;
    }
    if (out >= 0) ::close(out);
    return result;
}

int run_stop(const args& a) {
    if (a.wants_help()) return std::fputs(stop_help, stdout), exit_ok;
    line_options o;
    if (const std::string why = parse("stop", a, o); !why.empty())
        return fail("stop", exit_usage, "%s (see hyd stop --help)", why.c_str());
    const auto port = open_port("stop", o);
    if (!port) return exit_io;
    hresult hr = device::close(*port);
    if (hr == HY_E_NOWAKEUP) hr = device::close(*port);
    if (failed(hr)) return fail("stop", exit_io, "%s", dialogue_failure(hr).c_str());
    std::printf("%s: the instrument stopped and shows its prompt\n", o.port.c_str());
    return exit_ok;
}

int run_wake(const args& a) {
    if (a.wants_help()) return std::fputs(wake_help, stdout), exit_ok;
    line_options o;
    if (const std::string why = parse("wake", a, o); !why.empty())
        return fail("wake", exit_usage, "%s (see hyd wake --help)", why.c_str());
    const auto port = open_port("wake", o);
    if (!port) return exit_io;
    if (device::wake(*port) != s_ok)
        return fail("wake", exit_io, "%s: the instrument does not answer", o.port.c_str());
    std::printf("%s: the instrument answers\n", o.port.c_str());
    return exit_ok;
}

} // namespace hyd::tool
