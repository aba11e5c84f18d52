// The instrument's dialogue on simulated time, without a pty: host actions in, the bytes the host
// would read and the logged events out.
#include "dialogue.h"
#include "ensemble/ensemble_builder.h"

#include <gtest/gtest.h>

#include <span>
#include <sstream>

namespace hydsim {
namespace {

// Literals, so that the tables concatenate them.
#define ID " simulated profiler\r\nfirmware 51.40 (test bench)"
#define B "\r\nHY I" ID "\r\n>"
#define B6 "\r\nHY I" ID "\x06\r\n>" // checksum mode follows
#define CK "\r\n[Parameters saved as user defaults]\r\n>"
#define CF "\r\nCF = 11110 ----- flow control\r\n>"
#define CB " ----- serial port (baud, parity, stop bits)\r\n>"
#define NOISE "{break_pulse 0}{wakeup break not-understood}"

std::string ens(std::uint32_t n) {
    auto e = hyd::build::sample_ensemble(n, 12, true, n);
    return {e.begin(), e.end()};
}

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

// Plays the host. Steps: ">bytes" sent, "#text" / "%text" sent with a good / bad checksum,
// "~MS" break pulse, "[" and "]" break on and off, "+MS" time passes, "LBAUD P STOP DATA" host
// line report, "PBAUD STOP" line seen on the pty, "!K=V" option set, "Rbytes" raw send, "H"
// hang-up, "Fq" purge, "?K=V ..." state check, "TMS" time of the last output so far, "wN" the host
// reads N bytes at a time ("w" as many as come). The output carries "@MS[.US]" where time moved
// (unless "q" turned that off) and "{KIND DETAIL}" for every event logged but rx, tx and command
// (unless `trace` is off).
struct host {
    event_log log;
    dialogue d;
    std::int64_t now = 0, shown = 0;
    std::size_t logged = 0, reads = SIZE_MAX; // bytes the host takes at a time
    bool marks = true, trace = true;
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
            std::size_t n = std::min(r.size(), reads);
            text.append(r.begin(), r.begin() + std::ptrdiff_t(n));
            d.written(n, now);
            logged = log.events().size();
            if (!text.empty() && now / 1000 != shown / 1000 && marks)
                out += "@" + std::to_string(now / 1000) +
                       (now % 1000 ? "." + std::to_string(now % 1000 + 1000).substr(1) : "");
            shown = text.empty() ? shown : now;
            out += text;
            now = std::max(now + 1, std::min(d.next_output_us(), d.next_ping_us()));
        }
        now = until;
    }

    void send(const std::string& b) {
        d.receive(reinterpret_cast<const std::uint8_t*>(b.data()), b.size(), now);
    }

    void step(const std::string& s) {
        std::string arg = s.substr(1);
        std::istringstream in(arg);
        int a = 0, c = 0, e = 0;
        char p = 0;
        unsigned sum = '\r' + (s[0] == '%');
        for (unsigned char ch : arg) sum += ch;
        const char op = s[0];
        if (op == '>') send(arg);
        if (op == '#' || op == '%') send(arg + '\r' + char(sum >> 8) + char(sum & 0xFF));
        if (op == '~') d.break_pulse(std::stoi(arg), now);
        if (op == '[') d.break_on(now);
        if (op == ']') d.break_off(now);
        if (op == '+') return advance(now + std::stoll(arg) * 1000);
        if (op == 'L') in >> a >> p >> c >> e, d.host_line({a, p, c, e}, now);
        if (op == 'P') in >> a >> c, d.pty_line(a, c);
        EXPECT_FALSE(op == '!' && set(d.opts(), arg)) << arg;
        if (op == 'R') d.send_raw(arg, now);
        if (op == 'H') d.hang_up(now);
        if (op == 'F') d.purge(arg, now);
        if (op == 'q') marks = false;
        if (op == 'w') reads = arg.empty() ? SIZE_MAX : std::stoul(arg);
        EXPECT_TRUE(op != 'T' || shown / 1000 == std::stoll(arg)) << shown;
        for (std::string w; op == '?' && in >> w;)
            EXPECT_NE((" " + d.state() + " ").find(" " + w + " "), std::string::npos) << w;
        advance(now);
    }
};

// Text mode, one dialogue throughout: "command>reply lines" separated by '|'. Each command is
// echoed, then come "\n", the reply lines and ">".
const std::string commands =
    "CB?>CB = 411 ----- serial port (baud, parity, stop bits)|CF?>CF = 11110 ----- flow control|"
    "CF01011>|CF?>CF = 01011 ----- flow control|CF0101>ERR bad CF value|CF01012>ERR bad CF value|"
    "CK>[Parameters saved as user defaults]|ck>[Parameters saved as user defaults]|"
    "AX>Alignment test, 4 beams\r\n  >>> Total error: 0.42 deg <<<|>|XY>|WP45>|wp?>WP = 45|"
    "TE?>TE = 0|RNX>|RN?>RN = X|RN>ERR bad name|RN >ERR bad name|"
    "RN abcdefghijklmnopqrstuvwxyz0123456>ERR bad name|RN abcdefghijklmnopqrstuvwxyz012345>|"
    "1X>ERR unknown command|W>ERR unknown command|WP\x01>ERR unknown command|CB9>ERR bad CB value|"
    "CB911>ERR bad CB value|CB401>ERR bad CB value|CB461>ERR bad CB value|CB410>ERR bad CB value|"
    "CB413>ERR bad CB value|" +
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
    h.step("?name=abcdefghijklmnopqrstuvwxyz012345 cf=01011 last_command=AA?");
}

// A script: options and steps separated by '|', and what the host reads interleaved with the log.
// A '~' in it stands for any byte with the top bit set, the noise a host at other line settings
// reads.
struct script {
    const char* name;
    const char* opts;
    std::string steps, transcript;
    friend void PrintTo(const script& c, std::ostream* os) { *os << c.name; }
};

const script scripts[] = {
    // Wake-up by the break string or a line break; what survives it.
    {"break_string", "", ">===x====|?rx_bytes=8|>==|>=", "===x======{wakeup string}=" B},
    {"breaks", "break_min_ms=300", ">AB|~299|[|+299|]|]|[|+300|]|~300|?breaks=4 wakeups=2",
     "AB{break_pulse 299}{break_on}@299{break_off 299}{break_off 0}{break_on}@599{break_off 300}"
     "{wakeup break}" B "{break_pulse 300}{wakeup break}" B},
    {"ignore_breaks", "ignore_breaks=1", ">=======|~5|[|]|>CK\r|?breaks=2",
     "======={break_pulse 5}{break_on}{break_off 0}{refused =======CK unknown%20command}CK\r\nERR "
     "unknown command\r\n>"},
    {"wake_keeps_only_the_echo", "delay_ms=100",
     ">CK\r=======", "{wakeup string}CK\r@100=======" B},
    {"byte_gaps_after_a_wake", "byte_delay_ms=2", "q|>AB=======|+1000|T130",
     "{wakeup string}AB=======" B},
    {"sleep", "", ">CZ\r|?asleep=1|>CK\r|L19200 N 1 8|>AB|L9600 N 1 8|>=======|?asleep=0",
     "{sleep}CZ\r\n[POWERING DOWN .....]\r\n{line 19200 N 1 8}{line 9600 N 1 8}{wakeup string}" B},
    // CB answers at the old settings, then switches.
    {"cb_switches", "", ">CB011\r|?understood=0|L300 N 1 8|>cb852\r|L115200 S 2 8|>CB?\r",
     "{settings 300 N 1 8}CB011\r\n>{line 300 N 1 8}{settings 115200 S 2 8}cb852\r\n>"
     "{line 115200 S 2 8}CB?\r\nCB = 852" CB},
    {"reject_and_ax_fail", "reject=xx,,ck", ">CK\r|>CF?\r|!ax_fail=1|>AX\r",
     "{refused CK command%20rejected}CK\r\nERR command rejected\r\n>CF?" CF
     "AX\r\nAlignment test, 4 beams\r\n  No result: signal too weak\r\n>"},
    // Baud, parity and data bits must match the instrument's; stop bits need not.
    {"other_baud", "",
     "L19200 N 1 8|?understood=0 host_reported=1|>CK\r|~0|>=======|!no_echo=1|>AB",
     "{line 19200 N 1 8}~~~" NOISE + std::string(sizeof B - 1 + 7, '~')},
    {"other_parity_and_size", "", ">======|L9600 E 1 8|>A|L9600 N 1 7|>=|L9600 N 2 8|>=",
     "======{line 9600 E 1 8}\xBA{line 9600 N 1 7}~{line 9600 N 2 8}="},
    {"mismatch_silent", "mismatch=silent", "L19200 N 1 8|>CK\r|~0", "{line 19200 N 1 8}" NOISE},
    // Checksum mode: text, CR, a 16-bit sum, high byte first; no echo.
    {"checksum", "checksum=1|ping_output=text|ping_text=P%n",
     "~0|?mode=checksum|>CF01011\r\x01\x89|#CS|+100|#CB?|%CK|?mode=checksum last_command=CK|"
     ">AB=======",
     "{break_pulse 0}{wakeup break}" B6 "\x06\r\n>{pinging 1}\x06\r\n@20{ping 1}P1\r\n>@100\x06"
     "\r\nCB = 411" CB "{checksum_bad CK got=156 want=155}\x15\r\nERR checksum\r\n>"
     "{wakeup string}" B6},
    {"checksum_echo", "checksum=1|ck_reply=echo", ">=======|#CK|?mode=text|>CF?\r",
     "{wakeup string}=======" B6 "CK" CK "CF?" CF},
    {"checksum_long_line", "checksum=1", "~0|#" + std::string(600, 'A'),
     "{break_pulse 0}{wakeup break}" B6 "{checksum_bad " + std::string(512, 'A') +
         " got=39013 want=33293}\x15\r\nERR checksum\r\n>"},
    // Ping cycles.
    {"ensembles", "ping_count=2|ping_cells=12", ">cs\r|+100|?ensembles=2 pinging=0",
     "{pinging 2}cs\r\n@20{ping 1}" + ens(1) + "@40{ping 2}" + ens(2) + "\r\n>"},
    {"text_runs_on", "ping_output=text|ping_text=Ens %n;|ping_count=2|ping_interval_ms=1",
     ">CS\r|+10|>cs\r|+10|!ping_output=none|>cs\r",
     "{pinging 2}CS\r\n@1{ping 1}Ens 1;@2{ping 2}Ens 2;\r\n>@10{pinging 2}cs\r\n@11{ping 3}"
     "Ens 3;@12{ping 4}Ens 4;\r\n>@20{pinging 2}cs\r\n@21{ping 5}@22{ping 6}\r\n>"},
    {"endless", "ping_output=text|ping_text=.|ping_count=0|ping_interval_ms=100",
     ">cs\r|>CK\r|+250|?pinging=1|~0|?pinging=0",
     "{pinging 0}cs\r\n@100{ping 1}.@200{ping 2}.@250{break_pulse 0}{wakeup break}" B},
    // Faults.
    {"no_banner_id_no_echo", "no_banner_id=1|no_echo=1", "~0|>CK\r",
     "{break_pulse 0}{wakeup break}\r\nHX ?" ID "\r\n>\n[Parameters saved as user defaults]\r\n>"},
    {"drop_and_garble", "drop=2|garble=3", ">ABCDEF", "A\x19\x45"},
    {"delays", "delay_ms=100|byte_delay_ms=5", ">\r", "\r@100\n@105>"},
    {"silence_but_raw_send", "silence=1", ">CK\r|~0|L19200 N 1 8|RAB\x86",
     "{break_pulse 0}{wakeup break}{line 19200 N 1 8}AB\x86"},
    {"host_reads_slowly", "", "w2|>ABCDE|+1|w0|>F|~0|w|w0|>G|H|w",
     "ABCDE@1{break_pulse 0}{wakeup break}" B "{hangup}"},
    {"hangup", "delay_ms=100", ">cs\r|H|H|?hung_up=1 pinging=0|RZ|~0|>A",
     "{pinging 1}cs\r{hangup}{break_pulse 0}{wakeup break}"},
    {"purge_and_state", "baud=57600|parity=o|stop=2",
     ">CB?\r|F1|P9600 1|?host_baud=9600 host_stop=1 host_reported=0 understood=0|L4800 E 1 7|"
     "P0 2|?baud=57600 parity=O stop=2 data=8 host_baud=4800 host_parity=E host_stop=2 host_data=7 "
     "host_reported=1 understood=0 breaks=0 wakeups=0 asleep=0 pinging=0 mode=text hung_up=0 "
     "last_command=CB? name= cf=11110 ensembles=0 rx_bytes=4",
     "CB?\r\nCB = 732" CB "{purge 1}{line 4800 E 1 7}"}};

class hydsim_scripts : public ::testing::TestWithParam<script> {};

TEST_P(hydsim_scripts, answer_the_host) {
    const auto& c = GetParam();
    options o;
    for (const auto& kv : split(c.opts)) EXPECT_FALSE(set(o, kv)) << kv;
    host h(o);
    for (const auto& s : split(c.steps)) h.step(s);
    h.advance(h.now + 1000000);
    for (std::size_t i = 0; i < std::min(h.out.size(), c.transcript.size()); ++i)
        if (c.transcript[i] == '~' && static_cast<unsigned char>(h.out[i]) >= 0x80) h.out[i] = '~';
    EXPECT_EQ(h.out, c.transcript);
}

INSTANTIATE_TEST_SUITE_P(table, hydsim_scripts, ::testing::ValuesIn(scripts),
                         ::testing::PrintToStringParamName());

// "name=value>what get answers after it, or the error", separated by '|'.
const std::string option_cases =
    "baud=19200>19200|baud=14400>baud not in the table|baud=x>baud not in the table|parity=e>E|"
    "parity=EE>parity is one of N O E M S|parity=X>parity is one of N O E M S|stop=2>2|"
    "stop=3>stop is 1 or 2|cf=01011>01011|cf=0101>cf is five binary digits|"
    "cf=01012>cf is five binary digits|silence=5>1|no-echo=0>0|delay_ms=12>12|"
    "delay_ms=-5>delay_ms takes a number|delay_ms=>delay_ms takes a number|"
    "drop=99999999999>drop takes a number|checksum=1x>checksum takes a number|"
    "ping_cells=0>ping_cells is 1 to 128|ping_cells=129>ping_cells is 1 to 128|ping-cells=128>128|"
    "ck_reply=echo>echo|ck_reply=maybe>ck_reply is ack or echo|ping_output=none>none|"
    "ping_output=all>ping_output is ensemble, text or none|mismatch=silent>silent|"
    "mismatch=loud>mismatch is garbage or silent|ping_text=a b%c>a b%c|reject=xx,,ck>xx,,ck|"
    "nonsense=1>unknown option nonsense";

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
