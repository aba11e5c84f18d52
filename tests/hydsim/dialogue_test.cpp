// The instrument's dialogue on simulated time, without a pty: scripts of host actions in, the
// bytes the host would read and the logged events out.
#include "dialogue.h"
#include "support/ensemble_builder.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace hydsim {
namespace {

const std::string B = "\r\nHY I simulated profiler\r\nfirmware 51.40 (test bench)\r\n>";
const std::string B6 = B.substr(0, B.size() - 3) + "\x06\r\n>"; // checksum mode follows
const std::string ck = "\r\n[Parameters saved as user defaults]\r\n>";
const std::string cb = " ----- serial port (baud, parity, stop bits)\r\n>";

std::string ens(std::uint32_t n, std::uint8_t cells) {
    auto e = hyd::build::sample_ensemble(n, cells, true, n);
    return {e.begin(), e.end()};
}

// Plays the host. Steps: ">bytes" sent, "#text" / "%text" sent with a good / bad checksum,
// "~MS" break pulse, "[" and "]" break on and off, "+MS" time passes, "LBAUD P STOP DATA" host
// line report, "PBAUD STOP" line seen on the pty, "!K=V" option set, "Rbytes" raw send, "H"
// hang-up, "Fq" purge, "?K=V ..." state check, "TMS" time of the last output so far. The output
// carries "@MS" where time moved, unless "q" turned that off.
struct host {
    event_log log;
    dialogue d;
    std::int64_t now = 0, shown = 0;
    bool marks = true;
    std::string out;

    explicit host(const options& o) : d(log, o) {}

    void advance(std::int64_t until) {
        for (int guard = 0; guard < 10000; ++guard) {
            d.tick(now);
            const auto& r = d.ready(now);
            if (!r.empty()) {
                if (now != shown && marks) out += "@" + std::to_string(now / 1000);
                shown = now;
                out.append(r.begin(), r.end());
                d.written(r.size(), now);
            }
            std::int64_t next = std::min(d.next_output_us(), d.next_ping_us());
            if (next > until) break;
            now = std::max(now, next);
        }
        now = until;
    }

    void step(const std::string& s) {
        std::string arg = s.substr(1);
        std::istringstream in(arg);
        int a = 0, c = 0, e = 0;
        char p = 0;
        auto bytes = [&](const std::string& b) {
            d.receive(reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), now);
        };
        auto framed = [&](int extra) {
            unsigned sum = '\r' + extra;
            for (unsigned char ch : arg) sum += ch;
            bytes(arg + '\r' + char(sum >> 8) + char(sum & 0xFF));
        };
        switch (s[0]) {
        case '>':
            bytes(arg);
            break;
        case '#':
            framed(0);
            break;
        case '%':
            framed(1);
            break;
        case '~':
            d.break_pulse(std::stoi(arg), now);
            break;
        case '[':
            d.break_on(now);
            break;
        case ']':
            d.break_off(now);
            break;
        case '+':
            return advance(now + std::stoll(arg) * 1000);
        case 'L':
            in >> a >> p >> c >> e, d.host_line({a, p, c, e}, now);
            break;
        case 'P':
            in >> a >> c, d.pty_line(a, c);
            break;
        case '!':
            EXPECT_FALSE(
                set_option(d.opts(), arg.substr(0, arg.find('=')), arg.substr(arg.find('=') + 1)));
            break;
        case 'R':
            d.send_raw(arg, now);
            break;
        case 'H':
            d.hang_up(now);
            break;
        case 'F':
            d.purge(arg, now);
            break;
        case '?': {
            std::map<std::string, std::string> state;
            std::istringstream words(d.state());
            for (std::string w; words >> w;)
                state[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
            for (std::string w; in >> w;)
                EXPECT_EQ(state[w.substr(0, w.find('='))], w.substr(w.find('=') + 1)) << w;
            break;
        }
        default:
            FAIL() << s;
        }
        advance(now);
    }

    // Events other than rx and tx, "kind detail|kind detail".
    std::string events() const {
        std::string all;
        for (const auto& ev : log.events())
            if (ev.kind != "rx" && ev.kind != "tx")
                all +=
                    (all.empty() ? "" : "|") + ev.kind + (ev.detail.empty() ? "" : " " + ev.detail);
        return all;
    }
};

// Bytes a mismatched host reads are noise with the top bit set: '~' in an expected output stands
// for any such byte.
std::string seen(std::string s) {
    for (auto& c : s)
        if (static_cast<unsigned char>(c) >= 0x80) c = '~';
    return s;
}

struct script {
    const char* name;
    std::vector<std::string> opts;
    std::vector<std::string> steps;
    std::string out;
    std::string events;
};

void PrintTo(const script& c, std::ostream* os) {
    *os << c.name;
}

const std::string name32 = "abcdefghijklmnopqrstuvwxyz012345";

const script scripts[] = {
    // Wake-up.
    {"break_string",
     {},
     {">======", "?wakeups=0", ">=", "?wakeups=1 breaks=0"},
     "=======" + B,
     "wakeup string"},
    {"broken_run", {}, {">===x====", "?wakeups=0 rx_bytes=8"}, "===x====", ""},
    {"pulse", {}, {"~0", "?breaks=1 wakeups=1"}, B, "break_pulse 0|wakeup break"},
    {"held_break",
     {},
     {">AB", "[", "+30", "?breaks=1 wakeups=0", "]"},
     "AB@30" + B,
     "break_on|break_off 30|wakeup break"},
    {"clear_alone", {}, {"]", "?breaks=0 wakeups=0"}, "", "break_off 0"},
    {"break_min",
     {"break_min_ms=300"},
     {"~299", "[", "+299", "]", "[", "+300", "]", "~300", "?breaks=4 wakeups=2"},
     "@599" + B + B,
     "break_pulse 299|break_on|break_off 299|break_on|break_off 300|wakeup break|"
     "break_pulse 300|wakeup break"},
    {"ignore_breaks",
     {"ignore_breaks=1"},
     {">=======", "~5", "[", "]", ">CK\r", "?breaks=2 wakeups=0"},
     "=======CK\r\nERR unknown command\r\n>",
     "break_pulse 5|break_on|break_off 0|command =======CK|refused =======CK unknown%20command"},
    {"wake_keeps_only_the_echo",
     {"delay_ms=100"},
     {">CK\r======="},
     "CK\r@100=======" + B,
     "command CK|wakeup string"},
    {"sleep",
     {},
     {">CZ\r", "?asleep=1", ">CK\r", "L19200 N 1 8", ">AB", "L9600 N 1 8", ">=======", "?asleep=0"},
     "CZ\r\n[POWERING DOWN .....]\r\n" + B,
     "command CZ|sleep|line 19200 N 1 8|line 9600 N 1 8|wakeup string"},
    // Commands in text mode.
    {"queries",
     {},
     {">CB?\r", ">CF?\r", ">CK\r", ">ck\r", ">AX\r", ">\r"},
     "CB?\r\nCB = 411" + cb + "CF?\r\nCF = 11110 ----- flow control\r\n>CK" + ck + "ck" + ck +
         "AX\r\nAlignment test, 4 beams\r\n  >>> Total error: 0.42 deg <<<\r\n>\r\n>",
     "command CB?|command CF?|command CK|command ck|command AX|command"},
    {"values_kept",
     {},
     {">CF01011\r", ">CF?\r", ">XY\r", ">WP45\r", ">wp?\r", ">TE?\r", ">RNX\r", ">RN?\r",
      ">RN buoy 7\r", "?name=buoy%207 cf=01011 last_command=RN%20buoy%207", ">RN " + name32 + "\r",
      "?name=" + name32},
     "CF01011\r\n>CF?\r\nCF = 01011 ----- flow control\r\n>XY\r\n>WP45\r\n>wp?\r\nWP = "
     "45\r\n>TE?\r\nTE = "
     "0\r\n>RNX\r\n>RN?\r\nRN = X\r\n>RN buoy 7\r\n>RN " +
         name32 + "\r\n>",
     "command CF01011|command CF?|command XY|command WP45|command wp?|command TE?|command "
     "RNX|command "
     "RN?|command RN%20buoy%207|command RN%20" +
         name32},
    {"refusals",
     {},
     {">CF0101\r", ">CF01012\r", ">RN\r", ">RN \r", ">RN " + name32 + "6\r", ">1X\r", ">W\r",
      ">WP\x01\r"},
     "CF0101\r\nERR bad CF value\r\n>CF01012\r\nERR bad CF value\r\n>RN\r\nERR bad name\r\n>RN "
     "\r\nERR bad name\r\n>RN " +
         name32 +
         "6\r\nERR bad name\r\n>1X\r\nERR unknown command\r\n>W\r\nERR unknown "
         "command\r\n>WP\x01\r\nERR unknown command\r\n>",
     "command CF0101|refused CF0101 bad%20CF%20value|command CF01012|refused CF01012 "
     "bad%20CF%20value|command RN|refused RN bad%20name|command RN%20|refused RN%20 "
     "bad%20name|command RN%20" +
         name32 + "6|refused RN%20" + name32 +
         "6 bad%20name|command 1X|refused 1X unknown%20command|command W|refused W "
         "unknown%20command|command WP%01|refused WP%01 unknown%20command"},
    {"cb_values",
     {},
     {">CB9\r", ">CB911\r", ">CB401\r", ">CB461\r", ">CB410\r", ">CB413\r", ">CB011\r",
      "?baud=300 parity=N stop=1 understood=0", "L300 N 1 8", ">cb852\r", "L115200 S 2 8",
      ">CB?\r"},
     "CB9\r\nERR bad CB value\r\n>CB911\r\nERR bad CB value\r\n>CB401\r\nERR bad CB "
     "value\r\n>CB461\r\nERR bad CB value\r\n>CB410\r\nERR bad CB value\r\n>CB413\r\nERR bad CB "
     "value\r\n>CB011\r\n>cb852\r\n>CB?\r\nCB = 852" +
         cb,
     "command CB9|refused CB9 bad%20CB%20value|command CB911|refused CB911 "
     "bad%20CB%20value|command "
     "CB401|refused CB401 bad%20CB%20value|command CB461|refused CB461 bad%20CB%20value|command "
     "CB410|refused CB410 bad%20CB%20value|command CB413|refused CB413 bad%20CB%20value|command "
     "CB011|settings 300 N 1 8|line 300 N 1 8|command cb852|settings 115200 S 2 8|line 115200 S 2 "
     "8|command CB?"},
    {"cb_query_digits",
     {"baud=57600", "parity=o", "stop=2"},
     {">CB?\r"},
     "CB?\r\nCB = 732" + cb,
     "command CB?"},
    {"reject",
     {"reject=xx,,ck"},
     {">CK\r", ">CF?\r"},
     "CK\r\nERR command rejected\r\n>CF?\r\nCF = 11110 ----- flow control\r\n>",
     "command CK|refused CK command%20rejected|command CF?"},
    {"ax_fail",
     {},
     {"!ax_fail=1", ">AX\r"},
     "AX\r\nAlignment test, 4 beams\r\n  No result: signal too weak\r\n>",
     "command AX"},
    // Line settings: baud, parity and data bits must match; stop bits need not.
    {"other_baud",
     {},
     {"L19200 N 1 8", "?understood=0 host_reported=1 host_baud=19200", ">CK\r", "~0",
      ">=======", "?wakeups=1 last_command="},
     std::string(3 + B.size() + 7, '~'),
     "line 19200 N 1 8|break_pulse 0|wakeup break not-understood"},
    {"other_parity", {}, {"L9600 E 1 8", ">A", "?understood=0"}, "\xBA", "line 9600 E 1 8"},
    {"run_broken_by_mismatch",
     {},
     {">======", "L19200 N 1 8", ">=", "L9600 N 1 8", ">=", "?wakeups=0"},
     "======~=",
     "line 19200 N 1 8|line 9600 N 1 8"},
    {"other_data_bits", {}, {"L9600 N 1 7", ">A", "?understood=0"}, "~", "line 9600 N 1 7"},
    {"stop_bits_differ",
     {},
     {"L9600 N 2 8", ">CK\r", "?understood=1 host_stop=2"},
     "CK" + ck,
     "line 9600 N 2 8|command CK"},
    {"pty_line",
     {},
     {"P19200 2", "?host_baud=19200 host_stop=2 understood=0 host_reported=0", "P0 1",
      "?host_baud=19200 host_stop=1", "P9600 1", ">A"},
     "A",
     ""},
    {"mismatch_silent",
     {"mismatch=silent"},
     {"L19200 N 1 8", ">CK\r", "~0"},
     "",
     "line 19200 N 1 8|break_pulse 0|wakeup break not-understood"},
    {"mismatch_no_echo",
     {"no_echo=1"},
     {"L19200 N 1 8", ">AB", "~0"},
     std::string(B.size(), '~'),
     "line 19200 N 1 8|break_pulse 0|wakeup break not-understood"},
    // Checksum mode.
    {"checksum",
     {"checksum=1", "ping_output=text", "ping_text=P%n"},
     {"~0", "?mode=checksum", std::string(">CS\r\x00\xA3", 6), "+100", "#CB?", "%CK",
      "?mode=checksum last_command=CK"},
     B6 + "\x06\r\n@20P1\r\n>@100\x06\r\nCB = 411" + cb + "\x15\r\nERR checksum\r\n>",
     "break_pulse 0|wakeup break|command CS|pinging 1|ping 1|command CB?|checksum_bad CK got=156 "
     "want=155"},
    {"checksum_echo",
     {"checksum=1", "ck_reply=echo"},
     {">=======", "#CK", "?mode=text", ">CF?\r"},
     "=======" + B6 + "CK" + ck + "CF?\r\nCF = 11110 ----- flow control\r\n>",
     "wakeup string|command CK|command CF?"},
    {"checksum_wake",
     {"checksum=1"},
     {"~0", ">AB=======", "?wakeups=2 mode=checksum"},
     B6 + B6,
     "break_pulse 0|wakeup break|wakeup string"},
    {"checksum_mismatch",
     {"checksum=1"},
     {"L9600 O 1 8", "~0", "?mode=text"},
     std::string(B.size(), '~'),
     "line 9600 O 1 8|break_pulse 0|wakeup break not-understood"},
    // Ping cycles.
    {"ensembles",
     {"ping_count=2", "ping_cells=12"},
     {">cs\r", "+100", "?ensembles=2 pinging=0"},
     "cs\r\n@20" + ens(1, 12) + "@40" + ens(2, 12) + "\r\n>",
     "command cs|pinging 2|ping 1|ping 2"},
    {"text_runs_on",
     {"ping_output=text", "ping_text=Ens %n;", "ping_count=2", "ping_interval_ms=1"},
     {">CS\r", "+10", ">cs\r"},
     "CS\r\n@1Ens 1;@2Ens 2;\r\n>@10cs\r\n@11Ens 3;@12Ens 4;\r\n>",
     "command CS|pinging 2|ping 1|ping 2|command cs|pinging 2|ping 3|ping 4"},
    {"no_output",
     {"ping_output=none", "ping_count=2"},
     {">cs\r", "+100", "?ensembles=2"},
     "cs\r\n@40\r\n>",
     "command cs|pinging 2|ping 1|ping 2"},
    {"endless",
     {"ping_output=text", "ping_text=.", "ping_count=0", "ping_interval_ms=100"},
     {">cs\r", ">CK\r", "+250", "?pinging=1", "~0", "?pinging=0", "+500"},
     "cs\r\n@100.@200.@250" + B,
     "command cs|pinging 0|ping 1|ping 2|break_pulse 0|wakeup break"},
    // Faults.
    {"silence", {"silence=1"}, {">CK\r", "~0"}, "", "command CK|break_pulse 0|wakeup break"},
    {"no_banner_id_no_echo",
     {"no_banner_id=1", "no_echo=1"},
     {"~0", ">CK\r"},
     "\r\nHX ?" + B.substr(6) + "\n" + ck.substr(2),
     "break_pulse 0|wakeup break|command CK"},
    {"drop", {"drop=2"}, {">ABCDE"}, "ACE", ""},
    {"garble",
     {"garble=3"},
     {">ABCDEF"},
     "AB\x19"
     "DE\x1C",
     ""},
    {"delays", {"delay_ms=100", "byte_delay_ms=5"}, {">\r"}, "\r@100\n@105>", "command"},
    {"raw_send", {"silence=1"}, {"L19200 N 1 8", "RAB\x86"}, "AB~", "line 19200 N 1 8"},
    {"hangup",
     {"delay_ms=100"},
     {">CK\r", "H", "H", "?hung_up=1", "RZ", "~0", ">A"},
     "CK\r",
     "command CK|hangup|break_pulse 0|wakeup break"},
    {"purge_and_state",
     {"baud=19200", "parity=E", "stop=2"},
     {"F1", "L4800 O 1 7", "P0 2",
      "?baud=19200 parity=E stop=2 data=8 host_baud=4800 host_parity=O host_stop=2 host_data=7 "
      "host_reported=1 understood=0 breaks=0 wakeups=0 asleep=0 pinging=0 mode=text hung_up=0 "
      "last_command= name= cf=11110 ensembles=0 rx_bytes=0"},
     "",
     "purge 1|line 4800 O 1 7"},
};

class hydsim_dialogue : public ::testing::TestWithParam<script> {};

TEST_P(hydsim_dialogue, answers_the_host) {
    const auto& c = GetParam();
    options o;
    for (const auto& kv : c.opts)
        ASSERT_FALSE(set_option(o, kv.substr(0, kv.find('=')), kv.substr(kv.find('=') + 1))) << kv;
    host h(o);
    for (const auto& s : c.steps) h.step(s);
    h.advance(h.now + 1000000);
    bool noisy = c.out.find('~') != std::string::npos;
    EXPECT_EQ(noisy ? seen(h.out) : h.out, noisy ? seen(c.out) : c.out);
    EXPECT_EQ(h.events(), c.events);
}

INSTANTIATE_TEST_SUITE_P(scripts, hydsim_dialogue, ::testing::ValuesIn(scripts),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(hydsim_dialogue_output, partial_writes_keep_the_rest_and_log_what_went) {
    event_log log;
    dialogue d(log, options{});
    d.receive(reinterpret_cast<const std::uint8_t*>("ABC"), 3, 0);
    EXPECT_EQ(d.next_output_us(), 0);
    d.ready(0);
    d.written(2, 0);
    d.written(0, 0);
    EXPECT_EQ(std::string(d.ready(0).begin(), d.ready(0).end()), "C");
    EXPECT_EQ(d.next_output_us(), 0);
    d.written(5, 0);
    EXPECT_EQ(d.next_output_us(), dialogue::never);
    std::string tx;
    for (const auto& e : log.events()) tx += e.kind == "tx" ? e.detail + "|" : "";
    EXPECT_EQ(tx, "4142|43|");
    // Due but unwritten output goes with a wake-up and with the line.
    d.receive(reinterpret_cast<const std::uint8_t*>("AB"), 2, 0);
    d.ready(0);
    d.break_pulse(0, 0);
    EXPECT_EQ(std::string(d.ready(0).begin(), d.ready(0).end()), B);
    d.hang_up(0);
    EXPECT_TRUE(d.ready(0).empty());
}

struct option_case {
    const char* name;
    const char* value;
    const char* answer; // get's value after it, or the error
};

const option_case option_cases[] = {
    {"baud", "19200", "19200"},
    {"baud", "14400", "baud not in the table"},
    {"baud", "x", "baud not in the table"},
    {"parity", "e", "E"},
    {"parity", "EE", "parity is one of N O E M S"},
    {"parity", "X", "parity is one of N O E M S"},
    {"stop", "2", "2"},
    {"stop", "3", "stop is 1 or 2"},
    {"cf", "01011", "01011"},
    {"cf", "0101", "cf is five binary digits"},
    {"cf", "01012", "cf is five binary digits"},
    {"silence", "5", "1"},
    {"no-echo", "0", "0"},
    {"delay_ms", "12", "12"},
    {"delay_ms", "-5", "delay_ms takes a number"},
    {"delay_ms", "", "delay_ms takes a number"},
    {"drop", "99999999999", "drop takes a number"},
    {"checksum", "1x", "checksum takes a number"},
    {"ping_cells", "0", "ping_cells is 1 to 128"},
    {"ping_cells", "129", "ping_cells is 1 to 128"},
    {"ping-cells", "128", "128"},
    {"ck_reply", "echo", "echo"},
    {"ck_reply", "maybe", "ck_reply is ack or echo"},
    {"ping_output", "none", "none"},
    {"ping_output", "all", "ping_output is ensemble, text or none"},
    {"mismatch", "silent", "silent"},
    {"mismatch", "loud", "mismatch is garbage or silent"},
    {"ping_text", "a b%c", "a b%c"},
    {"reject", "xx,,ck", "xx,,ck"},
    {"nonsense", "1", "unknown option nonsense"},
};

TEST(hydsim_options, parse_once_or_refuse) {
    for (const auto& c : option_cases) {
        options o;
        auto error = set_option(o, c.name, c.value);
        EXPECT_EQ(error ? *error : get_option(o, c.name).value_or("?"), c.answer)
            << c.name << "=" << c.value;
    }
    options o;
    EXPECT_FALSE(get_option(o, "nonsense"));
    EXPECT_EQ(get_option(o, "ping_output"), "ensemble");
    EXPECT_EQ(get_option(o, "ck_reply"), "ack");
    EXPECT_EQ(get_option(o, "mismatch"), "garbage");
}

} // namespace
} // namespace hydsim
