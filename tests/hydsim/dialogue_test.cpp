// The instrument's dialogue on simulated time, without a pty: host actions in, the bytes the host
// would read and the logged events out: what the product's dialogue suites never reach.
#include "dialogue.h"

#include <gtest/gtest.h>

#include <span>
#include <sstream>

namespace hydsim {
namespace {

#define ID " simulated profiler\r\nfirmware 51.40 (test bench)"
#define B "\r\nHY I" ID "\r\n>"

std::vector<std::string> split(const std::string& s) {
    std::vector<std::string> parts;
    std::istringstream in(s);
    for (std::string part; std::getline(in, part, '|');) parts.push_back(part);
    return parts;
}

// "name=value"
std::optional<std::string> set(options& o, const std::string& kv) {
    return set_option(o, kv.substr(0, kv.find('=')), kv.substr(kv.find('=') + 1));
}

// Plays the host. Steps: ">bytes" sent, "#text" sent with its checksum, "~MS" break pulse, "[" and
// "]" break on and off, "+MS" time passes, "LBAUD P STOP DATA" host line report, "?K=V ..." state
// check. The output carries "@MS" where time moved and "{KIND DETAIL}" for every event logged but
// rx, tx and command (unless `trace` is off).
struct host {
    event_log log;
    dialogue d;
    std::int64_t now = 0, shown = 0;
    std::size_t logged = 0;
    bool trace = true;
    std::string out;

    explicit host(const options& o) : d(log, o) {}

    // Moves time on; at each moment, the events logged, then the bytes due.
    void advance(std::int64_t until) {
        for (int i = 0; i < 10000 && now <= until; ++i) {
            d.tick(now);
            std::string text;
            for (const auto& e : std::span(log.events()).subspan(logged))
                if (trace && e.kind != "rx" && e.kind != "tx" && e.kind != "command")
                    text += "{" + e.kind + (e.detail.empty() ? "" : " " + e.detail) + "}";
            const auto& r = d.ready(now);
            text.append(r.begin(), r.end());
            d.written(r.size(), now);
            logged = log.events().size();
            if (!text.empty() && now / 1000 != shown / 1000)
                out += "@" + std::to_string(now / 1000);
            shown = text.empty() ? shown : now;
            out += text;
            now = std::max(now + 1, std::min(d.next_output_us(), d.next_ping_us()));
        }
        now = until;
    }

    void step(const std::string& s) {
        std::string arg = s.substr(1);
        std::istringstream in(arg);
        int a = 0, c = 0, e = 0;
        char p = 0;
        unsigned sum = '\r';
        for (unsigned char ch : arg) sum += ch;
        if (s[0] == '#') arg += std::string{'\r', char(sum >> 8), char(sum & 0xFF)};
        if (s[0] == '>' || s[0] == '#')
            d.receive(reinterpret_cast<const std::uint8_t*>(arg.data()), arg.size(), now);
        if (s[0] == '~') d.break_pulse(std::stoi(arg), now);
        if (s[0] == '[') d.break_on(now);
        if (s[0] == ']') d.break_off(now);
        if (s[0] == '+') return advance(now + std::stoll(arg) * 1000);
        if (s[0] == 'L') in >> a >> p >> c >> e, d.host_line({a, p, c, e}, now);
        for (std::string w; s[0] == '?' && in >> w;)
            EXPECT_NE((" " + d.state() + " ").find(" " + w + " "), std::string::npos) << w;
        advance(now);
    }
};

// Text mode, one dialogue throughout: "command>reply lines" separated by '|'. Each command is
// echoed, then come "\n", the reply lines and ">".
const std::string commands =
    "CF0101>ERR bad CF value|CF01012>ERR bad CF value|XY>|>|wp45>|WP?>WP = 45|RN>ERR bad name|"
    "RN >ERR bad name|RN abcdefghijklmnopqrstuvwxyz0123456>ERR bad name|1X>ERR unknown command|"
    "RN abcdefghijklmnopqrstuvwxyz012345>|W>ERR unknown command|WP\x01>ERR unknown command|"
    "CB9>ERR bad CB value|CB911>ERR bad CB value|CB401>ERR bad CB value|CB461>ERR bad CB value|"
    "CB410>ERR bad CB value|CB413>ERR bad CB value|" +
    std::string(600, 'A') + ">|AA?>AA = " + std::string(510, 'A');

TEST(hydsim_dialogue, text_commands) {
    host h({});
    h.trace = false;
    for (const auto& c : split(commands)) {
        std::string command = c.substr(0, c.find('>')), reply = c.substr(c.find('>') + 1);
        h.out.clear();
        h.step(">" + command + "\r");
        EXPECT_EQ(h.out, command + "\r\n" + (reply.empty() ? "" : reply + "\r\n") + ">");
    }
    h.step("?name=abcdefghijklmnopqrstuvwxyz012345 last_command=AA?");
}

// Options and steps separated by '|', and what the host reads interleaved with the log.
struct script {
    const char *name, *opts;
    std::string steps, transcript;
    friend void PrintTo(const script& c, std::ostream* os) { *os << c.name; }
};

const script scripts[] = {
    {"breaks", "break_min_ms=300", ">AB|~299|[|+299|]|]|[|+300|]|~300|?breaks=4 wakeups=2",
     "AB{break_pulse 299}{break_on}@299{break_off 299}{break_off 0}{break_on}@599{break_off 300}"
     "{wakeup break}" B "{break_pulse 300}{wakeup break}" B},
    {"ignore_breaks", "ignore_breaks=1", ">=======|~5|[|]|>CK\r|?breaks=2",
     "======={break_pulse 5}{break_on}{break_off 0}{refused =======CK unknown%20command}CK\r\nERR "
     "unknown command\r\n>"},
    {"wake_keeps_only_the_echo", "delay_ms=100",
     ">CK\r=======", "{wakeup string}CK\r@100=======" B},
    {"sleep", "", ">CZ\r|?asleep=1|>CK\r|L19200 N 1 8|>AB|L9600 N 1 8|>=======|?asleep=0",
     "{sleep}CZ\r\n[POWERING DOWN .....]\r\n{line 19200 N 1 8}{line 9600 N 1 8}{wakeup string}" B},
    // Data bits must match the instrument's; a longer stop need not.
    {"other_parity_and_size", "", ">======|L9600 E 1 8|>A|L9600 N 1 7|>=|L9600 N 2 8|>=",
     "======{line 9600 E 1 8}\xBA{line 9600 N 1 7}\x8F{line 9600 N 2 8}="},
    {"mismatch_silent", "mismatch=silent", "L19200 N 1 8|>CK\r|~0",
     "{line 19200 N 1 8}{break_pulse 0}{wakeup break not-understood}"},
    {"checksum_long_line", "checksum=1", "~0|#" + std::string(600, 'A'),
     "{break_pulse 0}{wakeup break}\r\nHY I" ID "\x06\r\n>{checksum_bad " + std::string(512, 'A') +
         " got=39013 want=33293}\x15\r\nERR checksum\r\n>"},
    {"no_banner_id_no_echo", "no_banner_id=1|no_echo=1", "~0|>CK\r",
     "{break_pulse 0}{wakeup break}\r\nHX ?" ID "\r\n>\n[Parameters saved as user defaults]\r\n>"},
    {"delays", "delay_ms=100|byte_delay_ms=5", ">\r", "\r@100\n@105>"}};

class hydsim_scripts : public ::testing::TestWithParam<script> {};

TEST_P(hydsim_scripts, answer_the_host) {
    const auto& c = GetParam();
    options o;
    for (const auto& kv : split(c.opts)) EXPECT_FALSE(set(o, kv)) << kv;
    host h(o);
    for (const auto& s : split(c.steps)) h.step(s);
    h.advance(h.now + 1000000);
    EXPECT_EQ(h.out, c.transcript);
}

INSTANTIATE_TEST_SUITE_P(table, hydsim_scripts, ::testing::ValuesIn(scripts),
                         ::testing::PrintToStringParamName());

// "name=value>what get answers after it, or the error", separated by '|'.
const std::string option_cases =
    "baud=14400>baud not in the table|parity=e>E|parity=EE>parity is one of N O E M S|"
    "stop=3>stop is 1 or 2|cf=0101>cf is five binary digits|silence=5>1|no-echo=0>0|"
    "delay_ms=-5>delay_ms takes a number|delay_ms=>delay_ms takes a number|"
    "drop=99999999999>drop takes a number|checksum=1x>checksum takes a number|"
    "ping_cells=0>ping_cells is 1 to 128|ping_cells=129>ping_cells is 1 to 128|ping-cells=128>128|"
    "ck_reply=maybe>ck_reply is ack or echo|ping_output=all>ping_output is ensemble, text or none|"
    "mismatch=loud>mismatch is garbage or silent|nonsense=1>unknown option nonsense";

TEST(hydsim_options, parse_once_or_refuse) {
    for (const auto& c : split(option_cases)) {
        options o;
        auto error = set(o, c.substr(0, c.find('>')));
        EXPECT_EQ(error ? *error : get_option(o, c.substr(0, c.find('='))).value_or("?"),
                  c.substr(c.find('>') + 1));
    }
}

} // namespace
} // namespace hydsim
