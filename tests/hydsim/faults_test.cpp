// Faults on demand, the control protocol and the life cycle of the simulator.
#include "sim_host.h"

#include <gtest/gtest.h>

#include <fstream>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace hydsim_test {
namespace {

const std::string banner = "\r\nHY I simulated profiler\r\nfirmware 51.40 (test bench)\r\n>";

std::string every_nth_removed(const std::string& s, std::size_t n, std::size_t already = 0) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i)
        if ((already + i + 1) % n) out += s[i];
    return out;
}

// ---- faults, table-driven ----------------------------------------------------------------------

struct fault_case {
    const char* name;
    std::vector<std::string> args;
    std::string (*expected)(); // what a host sees for "=======" then "CK\r"
};

void PrintTo(const fault_case& c, std::ostream* os) {
    *os << c.name;
}

const std::string ck_reply = "CK\r\n[Parameters saved as user defaults]\r\n>";

const fault_case fault_cases[] = {
    {"none", {}, [] { return "=======" + banner + ck_reply; }},
    {"silence", {"--silence"}, [] { return std::string(); }},
    {"no_banner_id",
     {"--no_banner_id=1"},
     [] {
         return "=======\r\nHX ? simulated profiler\r\nfirmware 51.40 (test bench)\r\n>" + ck_reply;
     }},
    {"ignore_breaks",
     {"--ignore_breaks"},
     [] { return std::string("=======CK\r\nERR unknown command\r\n>"); }},
    {"no_echo",
     {"--no_echo"},
     [] { return banner + "\n[Parameters saved as user defaults]\r\n>"; }},
    {"drop_every_4th",
     {"--drop=4"},
     [] { return every_nth_removed("=======" + banner + ck_reply, 4); }},
    {"garble_every_5th",
     {"--garble=5"},
     [] {
         std::string s = "=======" + banner + ck_reply;
         for (std::size_t i = 4; i < s.size(); i += 5) s[i] = char(s[i] ^ 0x5A);
         return s;
     }},
    {"reject_ck",
     {"--reject=XX,CK"},
     [] { return "=======" + banner + "CK\r\nERR command rejected\r\n>"; }},
};

class sim_fault : public ::testing::TestWithParam<fault_case> {};

TEST_P(sim_fault, shapes_what_the_host_reads) {
    sim_host host(GetParam().args);
    std::string expected = GetParam().expected();
    host.write("=======");
    std::string got = host.read_for(50);
    host.write("CK\r");
    got += host.read_n(expected.size() - std::min(expected.size(), got.size()), 2000, 100);
    EXPECT_EQ(got, expected);
}

INSTANTIATE_TEST_SUITE_P(table, sim_fault, ::testing::ValuesIn(fault_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(sim_faults, set_at_run_time_over_the_control_socket) {
    sim_host host;
    host.sim().set("silence", "1");
    host.write("CK\r");
    EXPECT_EQ(host.read_for(100), "");
    host.sim().set("silence", "0");
    host.sim().set("ax_fail", "1");
    EXPECT_EQ(host.command("AX"),
              "AX\r\nAlignment test, 4 beams\r\n  No result: signal too weak\r\n>");
    EXPECT_EQ(host.sim().get("ax_fail"), "1");
}

TEST(sim_faults, delay_holds_replies_back_but_not_the_echo) {
    sim_host host({"--delay_ms=400"});
    auto from = host.sim().next_seq();
    EXPECT_EQ(host.command("CK"), ck_reply);
    auto events = host.sim().events(from);
    std::int64_t rx_at = -1, reply_at = -1, echo_at = -1;
    for (const auto& e : events) {
        if (e.kind == "rx" && rx_at < 0) rx_at = e.time_us;
        if (e.kind == "tx" && e.detail.rfind("434b", 0) == 0 && echo_at < 0) echo_at = e.time_us;
        if (e.kind == "tx" && e.detail.rfind("0a5b", 0) == 0) reply_at = e.time_us;
    }
    ASSERT_GE(rx_at, 0);
    ASSERT_GE(reply_at, 0);
    EXPECT_GE(reply_at - rx_at, 400000);
    EXPECT_LT(echo_at - rx_at, 400000);
}

TEST(sim_faults, byte_delay_spaces_the_output) {
    sim_host host({"--byte_delay_ms=5"});
    auto from = host.sim().next_seq();
    host.write("=======");
    EXPECT_EQ(host.read_until("\r\n>", 5000), "=======" + banner);
    // No byte goes out before its slot, however late the loop runs: the last one comes at least
    // 61 gaps after the bytes that caused the output arrived.
    std::int64_t arrived = -1, last = -1;
    for (const auto& e : host.sim().events(from)) {
        if (e.kind == "rx" && arrived < 0) arrived = e.time_us;
        if (e.kind == "tx") last = e.time_us;
    }
    ASSERT_GE(arrived, 0);
    EXPECT_GE(last - arrived, std::int64_t(7 + banner.size() - 1) * 5000);
}

TEST(sim_faults, break_min_ignores_short_breaks) {
    sim_host host({"--break_min_ms=300"});
    host.line_break(5);
    EXPECT_EQ(host.read_for(100), "");
    host.line_break(330);
    EXPECT_EQ(host.read_until("\r\n>"), banner);
    EXPECT_EQ(host.sim().state()["breaks"], "2");
}

TEST(sim_faults, hangup_closes_the_line) {
    sim_host host;
    host.sim().hangup();
    pollfd p{host.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    char c;
    EXPECT_LE(read(host.fd(), &c, 1), 0);
    auto s = host.sim().state();
    EXPECT_EQ(s["hung_up"], "1");
    EXPECT_TRUE(host.sim().wait("hangup", 0));
}

TEST(sim_faults, raw_bytes_pass_silence_and_mismatch) {
    sim_host host({"--silence"});
    host.set_line(19200, 'E');
    host.sim().send({0x00, 0x06, 0x15, 0x3E, 0xFF});
    EXPECT_EQ(host.read_n(5), std::string("\x00\x06\x15>\xff", 5));
}

// ---- control protocol --------------------------------------------------------------------------

TEST(sim_control, refuses_bad_requests) {
    sim_host host;
    auto& sim = host.sim();
    EXPECT_EQ(sim.request("fly"), "err unknown request fly");
    EXPECT_EQ(sim.request("set"), "err set needs key=value");
    EXPECT_EQ(sim.request("set nonsense=1"), "err unknown option nonsense");
    EXPECT_EQ(sim.request("set delay_ms=-5"), "err delay_ms takes a number");
    EXPECT_EQ(sim.request("set baud=14400"), "err baud not in the table");
    EXPECT_EQ(sim.request("set parity=X"), "err parity is one of N O E M S");
    EXPECT_EQ(sim.request("set ck_reply=maybe"), "err ck_reply is ack or echo");
    EXPECT_EQ(sim.request("get"), "err get needs a key");
    EXPECT_EQ(sim.request("send 0g"), "err send needs hex bytes");
    EXPECT_EQ(sim.request("send 123"), "err send needs hex bytes");
    EXPECT_EQ(sim.request("wait rx"), "err wait KIND TIMEOUT_MS [FROM_SEQ]");
    EXPECT_EQ(sim.request("host line 9600"), "err unknown host report");
    EXPECT_THROW(sim.set("stop", "3"), std::runtime_error);
    // Still serving after all that.
    EXPECT_EQ(host.command("CK"), ck_reply);
}

TEST(sim_control, values_round_trip_with_blanks_and_percent) {
    sim_host host({"--ping_output=text", "--ping_count=1", "--ping_interval_ms=1"});
    host.sim().set("ping_text", "a b%c\td");
    EXPECT_EQ(host.sim().get("ping_text"), "a b%c\td");
    host.write("cs\r");
    EXPECT_EQ(host.read_until("\r\n>"), "cs\r\na b%c\td\r\n>");
    EXPECT_EQ(hyd::sim::decode(hyd::sim::encode(std::string("\x00\x7f%\r", 4))),
              std::string("\x00\x7f%\r", 4));
}

TEST(sim_control, wait_times_out_and_sees_later_events) {
    sim_host host;
    auto& sim = host.sim();
    EXPECT_FALSE(sim.wait("break_on", 50));
    auto from = sim.next_seq();
    host.write("CK\r");
    auto command = sim.wait("command", 1000, from);
    ASSERT_TRUE(command);
    EXPECT_EQ(command->detail, "CK");
    EXPECT_GE(command->seq, from);
    EXPECT_FALSE(sim.wait("command", 50, command->seq + 1));
    host.read_until("\r\n>");
    EXPECT_EQ(sim.received(from), (std::vector<std::uint8_t>{'C', 'K', '\r'}));
    auto sent = sim.sent(from);
    EXPECT_EQ(std::string(sent.begin(), sent.end()), ck_reply);
}

TEST(sim_control, a_second_client_is_served_while_one_waits) {
    sim_host host;
    hyd::sim::control waiting(std::getenv("HYD_SIM_CONTROL"));
    hyd::sim::control other(std::getenv("HYD_SIM_CONTROL"));
    auto from = other.next_seq();
    // Pipeline a wait on one connection, then drive the simulator through another.
    std::thread t([&] { EXPECT_TRUE(waiting.wait("settings", 2000, from)); });
    EXPECT_EQ(other.state()["baud"], "9600");
    EXPECT_EQ(host.command("CB511"), "CB511\r\n>");
    t.join();
    EXPECT_EQ(other.get("baud"), "19200");
}

// ---- life cycle and log ------------------------------------------------------------------------

TEST(sim_life_cycle, prints_the_pty_and_stops_clean_on_sigterm) {
    sim_host host;
    struct stat st;
    ASSERT_EQ(stat(host.pty().c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    auto s = host.sim().state();
    EXPECT_EQ(s["pty"], host.pty());
    EXPECT_EQ(s["pid"], std::to_string(host.pid()));
    EXPECT_EQ(s["baud"], "9600");
    EXPECT_EQ(s["parity"], "N");
    EXPECT_EQ(s["stop"], "1");
    host.command("CK");
    int status = host.stop();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    std::ifstream log(host.log_path());
    std::vector<hyd::sim::event> events;
    for (std::string line; std::getline(log, line);) {
        auto e = hyd::sim::parse_event(line);
        ASSERT_TRUE(e) << line;
        events.push_back(*e);
    }
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front().kind, "start");
    EXPECT_EQ(events.back().kind, "stop");
    EXPECT_EQ(events.back().detail, "15");
    for (std::size_t i = 1; i < events.size(); ++i) {
        EXPECT_EQ(events[i].seq, events[i - 1].seq + 1);
        EXPECT_GE(events[i].time_us, events[i - 1].time_us);
    }
}

TEST(sim_life_cycle, refuses_bad_options) {
    for (const char* bad : {"--baud=14400", "--nonsense=1", "plain", "--ping_cells=0"}) {
        std::string cmd = std::string(HYD_SIM_BIN) + " " + bad + " >/dev/null 2>&1";
        int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << bad;
        EXPECT_EQ(WEXITSTATUS(status), 2) << bad;
    }
}

// ---- the preload library -----------------------------------------------------------------------

TEST(sim_preload, keeps_parity_and_size_a_pty_forgets) {
    sim_host host;
    host.set_line(9600, 'E', 2, 7);
    termios t{};
    ASSERT_EQ(tcgetattr(host.fd(), &t), 0);
    EXPECT_TRUE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    // A read-modify-write keeps them, as on a real port.
    cfsetospeed(&t, B4800);
    cfsetispeed(&t, B4800);
    ASSERT_EQ(tcsetattr(host.fd(), TCSANOW, &t), 0);
    auto s = host.sim().state();
    EXPECT_EQ(s["host_baud"], "4800");
    EXPECT_EQ(s["host_parity"], "E");
    EXPECT_EQ(s["host_data"], "7");
    EXPECT_EQ(s["host_reported"], "1");
}

TEST(sim_preload, other_terminals_are_not_reported) {
    sim_host host;
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    auto from = host.sim().next_seq();
    termios t{};
    tcgetattr(slave, &t);
    t.c_cflag |= PARENB;
    tcsetattr(slave, TCSANOW, &t);
    ioctl(slave, TIOCSBRK, 0);
    ioctl(slave, TIOCCBRK, 0);
    tcsendbreak(slave, 0);
    close(slave);
    close(master);
    for (const auto& e : host.sim().events(from)) ADD_FAILURE() << "reported: " << e.kind;
    EXPECT_EQ(host.sim().state()["breaks"], "0");
}

TEST(sim_preload, purge_is_reported) {
    sim_host host;
    ASSERT_EQ(tcflush(host.fd(), TCIFLUSH), 0);
    auto e = host.sim().wait("purge", 0);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->detail, std::to_string(TCIFLUSH));
}

} // namespace
} // namespace hydsim_test
