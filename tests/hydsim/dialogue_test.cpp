// The simulator's side of the instrument dialogue, driven from a native host on its pty.
#include "sim_host.h"

#include "common/memory_stream.h"
#include "ensemble/persist.h"

#include <gtest/gtest.h>

#include <cctype>

#include <sys/ioctl.h>
#include <termios.h>

namespace hydsim_test {
namespace {

const std::string banner = "\r\nHY I simulated profiler\r\nfirmware 51.40 (test bench)\r\n>";

// ---- wake-up ---------------------------------------------------------------------------------

struct wake_case {
    const char* name;
    void (*send)(sim_host&);
    const char* event; // what the simulator logs for it
};

void PrintTo(const wake_case& c, std::ostream* os) {
    *os << c.name;
}

const wake_case wake_cases[] = {
    {"ioctl_set_clear", [](sim_host& h) { h.line_break(30); }, "break_off"},
    {"tcsendbreak", [](sim_host& h) { ASSERT_EQ(tcsendbreak(h.fd(), 0), 0); }, "break_pulse"},
    {"ioctl_tcsbrk", [](sim_host& h) { ASSERT_EQ(ioctl(h.fd(), TCSBRK, 0), 0); }, "break_pulse"},
    {"ioctl_tcsbrkp", [](sim_host& h) { ASSERT_EQ(ioctl(h.fd(), TCSBRKP, 0), 0); }, "break_pulse"},
    {"break_string", [](sim_host& h) { h.write("======="); }, "rx"},
};

class sim_wake_up : public ::testing::TestWithParam<wake_case> {};

TEST_P(sim_wake_up, answers_with_the_banner) {
    sim_host host;
    GetParam().send(host);
    std::string reply = host.read_until("\r\n>");
    std::string expected = std::string(GetParam().event) == "rx" ? "=======" + banner : banner;
    EXPECT_EQ(reply, expected);
    EXPECT_TRUE(host.sim().wait(GetParam().event, 0));
    auto wake = host.sim().wait("wakeup", 0);
    ASSERT_TRUE(wake);
    EXPECT_EQ(wake->detail, std::string(GetParam().event) == "rx" ? "string" : "break");
}

INSTANTIATE_TEST_SUITE_P(methods, sim_wake_up, ::testing::ValuesIn(wake_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(sim_wake_up_order, break_is_logged_before_the_call_returns) {
    sim_host host;
    host.write("AB");
    ASSERT_EQ(ioctl(host.fd(), TIOCSBRK, 0), 0);
    // No waiting: the acknowledgement means the simulator has it already, after the bytes
    // written before it.
    auto s = host.sim().state();
    EXPECT_EQ(s["breaks"], "1");
    auto events = host.sim().events();
    std::vector<std::string> kinds;
    for (const auto& e : events)
        if (e.kind == "rx" || e.kind == "break_on") kinds.push_back(e.kind);
    EXPECT_EQ(kinds, (std::vector<std::string>{"rx", "break_on"}));
    EXPECT_EQ(host.read_n(2, 2000, 100), "AB"); // echo; no banner while the line is held
    ASSERT_EQ(ioctl(host.fd(), TIOCCBRK, 0), 0);
    EXPECT_EQ(host.read_until("\r\n>"), banner);
}

TEST(sim_wake_up_order, tcdrain_is_not_a_break) {
    sim_host host;
    ASSERT_EQ(tcdrain(host.fd()), 0);
    ASSERT_EQ(ioctl(host.fd(), TCSBRK, 1), 0);
    EXPECT_EQ(host.read_for(100), "");
    EXPECT_EQ(host.sim().state()["breaks"], "0");
}

TEST(sim_wake_up_order, six_equals_are_only_text) {
    sim_host host;
    host.write("======");
    EXPECT_EQ(host.read_n(6, 2000, 100), "======");
    host.write("x=");
    EXPECT_EQ(host.read_n(2, 2000, 100), "x=");
    EXPECT_EQ(host.sim().state()["wakeups"], "0");
}

// ---- commands in text mode -------------------------------------------------------------------

struct command_case {
    const char* command;
    const char* reply; // everything after the echo of the command and its CR
};

void PrintTo(const command_case& c, std::ostream* os) {
    *os << c.command;
}

const command_case command_cases[] = {
    {"CB?", "\nCB = 411 ----- serial port (baud, parity, stop bits)\r\n>"},
    {"CF?", "\nCF = 11110 ----- flow control\r\n>"},
    {"CF01011", "\n>"},
    {"CF0101", "\nERR bad CF value\r\n>"},
    {"CF01012", "\nERR bad CF value\r\n>"},
    {"CK", "\n[Parameters saved as user defaults]\r\n>"},
    {"ck", "\n[Parameters saved as user defaults]\r\n>"},
    {"AX", "\nAlignment test, 4 beams\r\n  >>> Total error: 0.42 deg <<<\r\n>"},
    {"RN buoy 7", "\n>"},
    {"RN ", "\nERR bad name\r\n>"},
    {"WP45", "\n>"},
    {"TE?", "\nTE = 0\r\n>"},
    {"", "\n>"},
    {"1X", "\nERR unknown command\r\n>"},
    {"W", "\nERR unknown command\r\n>"},
    {"CB9", "\nERR bad CB value\r\n>"},
    {"CB461", "\nERR bad CB value\r\n>"},
    {"CB413", "\nERR bad CB value\r\n>"},
    {"CB411", "\n>"},
};

class sim_text_command : public ::testing::TestWithParam<command_case> {};

TEST_P(sim_text_command, echo_then_reply) {
    sim_host host;
    std::string c = GetParam().command;
    EXPECT_EQ(host.command(c), c + "\r" + GetParam().reply);
    EXPECT_EQ(host.sim().state()["last_command"], c);
}

std::string case_name(const ::testing::TestParamInfo<command_case>& info) {
    std::string name = std::to_string(info.index) + "_";
    for (char c : std::string(info.param.command))
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(table, sim_text_command, ::testing::ValuesIn(command_cases), case_name);

TEST(sim_text_commands, cb_query_digits_sit_where_the_host_reads_them) {
    sim_host host({"--baud=57600", "--parity=O", "--stop=2"});
    host.set_line(57600, 'O', 2);
    std::string reply = host.command("CB?");
    ASSERT_GE(reply.size(), 13u);
    EXPECT_EQ(reply[10], '7'); // 57600
    EXPECT_EQ(reply[11], '3'); // odd
    EXPECT_EQ(reply[12], '2'); // two stop bits
}

TEST(sim_text_commands, values_are_kept) {
    sim_host host;
    host.command("CF01011");
    EXPECT_EQ(host.command("CF?"), "CF?\r\nCF = 01011 ----- flow control\r\n>");
    host.command("WP45");
    EXPECT_EQ(host.command("WP?"), "WP?\r\nWP = 45\r\n>");
    host.command("RN buoy 7");
    auto s = host.sim().state();
    EXPECT_EQ(s["name"], "buoy 7");
    EXPECT_EQ(s["cf"], "01011");
}

TEST(sim_text_commands, power_down_until_a_break) {
    sim_host host;
    EXPECT_EQ(host.read_until("ING DOWN .....]\r\n"), "");
    host.write("CZ\r");
    EXPECT_EQ(host.read_until("ING DOWN .....]\r\n"), "CZ\r\n[POWERING DOWN .....]\r\n");
    host.write("CK\r");
    EXPECT_EQ(host.read_for(150), "");
    EXPECT_EQ(host.sim().state()["asleep"], "1");
    host.line_break();
    EXPECT_EQ(host.read_until("\r\n>"), banner);
    EXPECT_EQ(host.sim().state()["asleep"], "0");
}

// ---- line settings -----------------------------------------------------------------------------

TEST(sim_line_settings, cb_switches_the_instrument_after_its_reply) {
    sim_host host;
    EXPECT_EQ(host.command("CB632"), "CB632\r\n>"); // 38400, odd, two stop bits
    auto s = host.sim().state();
    EXPECT_EQ(s["baud"], "38400");
    EXPECT_EQ(s["parity"], "O");
    EXPECT_EQ(s["stop"], "2");
    EXPECT_EQ(s["understood"], "0");

    host.write("CK\r");
    std::string garbage = host.read_n(3);
    ASSERT_EQ(garbage.size(), 3u);
    for (unsigned char c : garbage) EXPECT_GE(c, 0x80) << "a mismatched host reads noise";
    EXPECT_EQ(host.sim().state()["last_command"], "CB632");

    host.set_line(38400, 'O', 2);
    EXPECT_EQ(host.command("CK"), "CK\r\n[Parameters saved as user defaults]\r\n>");
    EXPECT_EQ(host.command("CB?").substr(10, 3), "632");
}

struct mismatch_case {
    const char* name;
    int baud;
    char parity;
    int stop;
    int data;
    bool understood;
};

void PrintTo(const mismatch_case& c, std::ostream* os) {
    *os << c.name;
}

const mismatch_case mismatch_cases[] = {
    {"same", 9600, 'N', 1, 8, true},
    {"two_stop_bits", 9600, 'N', 2, 8, true},
    {"baud", 19200, 'N', 1, 8, false},
    {"even_parity", 9600, 'E', 1, 8, false},
    {"mark_parity", 9600, 'M', 1, 8, false},
    {"seven_bits", 9600, 'N', 1, 7, false},
    {"baud_and_parity", 4800, 'E', 2, 8, false},
};

class sim_host_settings : public ::testing::TestWithParam<mismatch_case> {};

TEST_P(sim_host_settings, decide_whether_the_instrument_understands) {
    const auto& c = GetParam();
    sim_host host;
    host.set_line(c.baud, c.parity, c.stop, c.data);
    auto s = host.sim().state();
    EXPECT_EQ(s["host_baud"], std::to_string(c.baud));
    EXPECT_EQ(s["host_parity"], std::string(1, c.parity));
    EXPECT_EQ(s["host_stop"], std::to_string(c.stop));
    EXPECT_EQ(s["host_data"], std::to_string(c.data));
    EXPECT_EQ(s["understood"], c.understood ? "1" : "0");

    host.line_break();
    std::string reply = host.read_n(banner.size());
    if (c.understood) {
        EXPECT_EQ(reply, banner);
        EXPECT_EQ(host.command("CK"), "CK\r\n[Parameters saved as user defaults]\r\n>");
    } else {
        EXPECT_EQ(reply.size(), banner.size()) << "the banner, mangled";
        EXPECT_FALSE(contains(reply, "HY I"));
        EXPECT_FALSE(contains(reply, "\r\n>"));
        EXPECT_EQ(host.sim().wait("wakeup", 0)->detail, "break not-understood");
        host.write("=======");
        EXPECT_EQ(host.read_n(7, 2000, 100).size(), 7u) << "no break string at the wrong settings";
        EXPECT_EQ(host.sim().state()["wakeups"], "1");
    }
}

INSTANTIATE_TEST_SUITE_P(table, sim_host_settings, ::testing::ValuesIn(mismatch_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(sim_line_settings, silent_mismatch_sends_nothing) {
    sim_host host({"--mismatch=silent"});
    host.set_line(19200);
    host.line_break();
    host.write("CK\r");
    EXPECT_EQ(host.read_for(150), "");
}

// ---- checksum mode -----------------------------------------------------------------------------

std::string framed(const std::string& command) {
    unsigned sum = 0x0D;
    for (unsigned char c : command) sum += c;
    return command + "\r" + char((sum >> 8) & 0xFF) + char(sum & 0xFF);
}

TEST(sim_checksum_mode, banner_switches_and_commands_carry_a_sum) {
    sim_host host({"--checksum=1", "--ping_output=text", "--ping_text=P%n"});
    host.line_break();
    std::string b = host.read_until("\r\n>");
    ASSERT_GE(b.size(), 4u);
    EXPECT_EQ(b[b.size() - 4], '\x06') << "last byte before the prompt selects checksum mode";
    EXPECT_EQ(host.sim().state()["mode"], "checksum");

    // CS: 0x43 0x53 0x0D and the sum 0x00A3, high byte first; no echo.
    EXPECT_EQ(framed("CS"), std::string("CS\r\x00\xA3", 5));
    host.write(framed("CS"));
    EXPECT_EQ(host.read_until("\r\n>"), "\x06\r\nP1\r\n>");

    host.write(framed("CB?"));
    EXPECT_EQ(host.read_until("\r\n>"),
              "\x06\r\nCB = 411 ----- serial port (baud, parity, stop bits)\r\n>");

    std::string bad = framed("CK");
    bad.back() = char(bad.back() + 1);
    host.write(bad);
    EXPECT_EQ(host.read_until("\r\n>"), "\x15\r\nERR checksum\r\n>");
    EXPECT_TRUE(host.sim().wait("checksum_bad", 0));
    EXPECT_EQ(host.sim().state()["last_command"], "CK");
    EXPECT_EQ(host.sim().state()["mode"], "checksum");
}

TEST(sim_checksum_mode, echo_replies_return_to_text_mode) {
    sim_host host({"--checksum=1", "--ck_reply=echo"});
    host.write("=======");
    host.read_until("\r\n>");
    host.write(framed("CK"));
    EXPECT_EQ(host.read_until("\r\n>"), "CK\r\n[Parameters saved as user defaults]\r\n>");
    EXPECT_EQ(host.sim().state()["mode"], "text");
    EXPECT_EQ(host.command("CF?"), "CF?\r\nCF = 11110 ----- flow control\r\n>");
}

TEST(sim_checksum_mode, a_plain_banner_leaves_text_mode) {
    sim_host host;
    host.line_break();
    std::string b = host.read_until("\r\n>");
    EXPECT_NE(b[b.size() - 4], '\x06');
    EXPECT_NE(b[b.size() - 4], '\x15');
    EXPECT_EQ(host.sim().state()["mode"], "text");
}

// ---- ping cycles -------------------------------------------------------------------------------

TEST(sim_ping_cycle, ensembles_load_and_end_with_the_prompt) {
    sim_host host({"--ping_count=3", "--ping_interval_ms=5", "--ping_cells=12"});
    host.write("cs\r");
    EXPECT_EQ(host.read_until("\r\n"), "cs\r\n");
    std::string data = host.read_until("\r\n>", 3000);
    ASSERT_GE(data.size(), 3u);
    ASSERT_EQ(data.substr(data.size() - 3), "\r\n>");
    data.resize(data.size() - 3);

    hyd::memory_stream stream(std::vector<std::uint8_t>(data.begin(), data.end()));
    for (int i = 0; i < 3; ++i) {
        hyd::CSNPersist ensemble;
        ASSERT_EQ(ensemble.Load(stream), hyd::s_ok) << "ensemble " << i;
    }
    hyd::CSNPersist extra;
    EXPECT_NE(extra.Load(stream), hyd::s_ok) << "nothing after the third ensemble";
    auto s = host.sim().state();
    EXPECT_EQ(s["ensembles"], "3");
    EXPECT_EQ(s["pinging"], "0");
    EXPECT_EQ(host.command("CK"), "CK\r\n[Parameters saved as user defaults]\r\n>");
}

TEST(sim_ping_cycle, numbers_run_on_across_cycles_in_text) {
    sim_host host(
        {"--ping_output=text", "--ping_text=Ens %n;", "--ping_count=2", "--ping_interval_ms=1"});
    host.write("CS\r");
    EXPECT_EQ(host.read_until("\r\n>"), "CS\r\nEns 1;Ens 2;\r\n>");
    host.write("cs\r");
    EXPECT_EQ(host.read_until("\r\n>"), "cs\r\nEns 3;Ens 4;\r\n>");
}

TEST(sim_ping_cycle, endless_pinging_ignores_commands_until_a_break) {
    sim_host host(
        {"--ping_output=text", "--ping_text=.", "--ping_count=0", "--ping_interval_ms=10"});
    host.write("cs\r");
    host.read_until("cs\r\n");
    host.write("CK\r");
    std::string dots = host.read_n(3, 2000, 0);
    EXPECT_GE(dots.size(), 3u);
    EXPECT_EQ(dots.find_first_not_of('.'), std::string::npos) << dots;
    EXPECT_EQ(host.sim().state()["pinging"], "1");
    host.line_break();
    std::string rest = host.read_until("\r\n>");
    EXPECT_TRUE(rest.size() >= banner.size() &&
                rest.compare(rest.size() - banner.size(), banner.size(), banner) == 0)
        << rest;
    EXPECT_EQ(host.read_for(60), "") << "pinging stopped";
}

} // namespace
} // namespace hydsim_test
