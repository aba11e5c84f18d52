// hydsim for real, run through hyd_add_sim_test (SIM_ARGS --baud=19200): a native host on the pty,
// the preload library arriving by LD_PRELOAD, and the control socket.
#include "line_speed.h"
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

class hydsim_pty : public ::testing::Test {
  protected:
    void SetUp() override {
        fd = open(std::getenv("HYD_SIM_PORT"), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        line(19200, CS8);
    }
    void TearDown() override { close(fd); }

    void line(int baud, tcflag_t flags) {
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        cfmakeraw(&t);
        cfsetspeed(&t, hydsim_speed_of(baud));
        t.c_cflag = (t.c_cflag & ~tcflag_t(PARENB | PARODD | CSTOPB | CSIZE)) | flags;
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    }
    // Reads up to `count` bytes or up to a prompt, whichever comes first.
    std::string read(std::size_t count = 4096) {
        std::string got;
        pollfd p{fd, POLLIN, 0};
        char c;
        while (got.size() < count && !got.ends_with("\r\n>") && poll(&p, 1, 2000) == 1 &&
               ::read(fd, &c, 1) == 1)
            got += c;
        return got;
    }

    int fd = -1;
    hyd::sim::control sim;
};

TEST_F(hydsim_pty, host_line_settings_reach_the_simulator) {
    line(9600, PARENB | CS7 | CSTOPB);
    auto s = sim.state();
    EXPECT_EQ(s["host_baud"] + s["host_parity"] + s["host_stop"] + s["host_data"], "9600E27");
    EXPECT_EQ(s["host_reported"] + s["understood"], "10");
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    EXPECT_EQ(t.c_cflag & (PARENB | CSIZE), tcflag_t(PARENB | CS7)) << "kept as a port keeps them";

    // Behind the preload's back: the simulator reads the speed off the pty itself.
    line(19200, CS8);
    cfsetspeed(&t, B4800);
    ASSERT_EQ(syscall(SYS_ioctl, fd, TCSETS, &t), 0);
    ASSERT_EQ(write(fd, "A", 1), 1);
    std::string noise = read(1);
    ASSERT_EQ(noise.size(), 1u);
    EXPECT_GE(static_cast<unsigned char>(noise[0]), 0x80);
    EXPECT_EQ(sim.state()["host_baud"], "4800");
}

TEST_F(hydsim_pty, breaks_are_seen_before_the_call_returns) {
    ASSERT_EQ(write(fd, "AB", 2), 2);
    ASSERT_EQ(ioctl(fd, TIOCSBRK, 0), 0);
    EXPECT_EQ(sim.state()["breaks"], "1");
    EXPECT_LT(sim.wait("rx", 0)->seq, sim.wait("break_on", 0)->seq);
    ASSERT_EQ(ioctl(fd, TIOCCBRK, 0), 0);
    EXPECT_EQ(read(), "AB\r\nHY I simulated profiler\r\nfirmware 51.40 (test bench)\r\n>");
    ASSERT_EQ(tcsendbreak(fd, 0), 0);
    ASSERT_EQ(ioctl(fd, TCSBRK, 1), 0); // tcdrain, not a break
    EXPECT_EQ(sim.state()["breaks"], "2");
    EXPECT_NE(read().find("HY I"), std::string::npos);
    ASSERT_EQ(tcflush(fd, TCIFLUSH), 0);
    EXPECT_EQ(sim.wait("purge", 0)->detail, std::to_string(TCIFLUSH));
    ASSERT_EQ(write(fd, "CB?\r", 4), 4);
    EXPECT_EQ(read().substr(0, 13), "CB?\r\nCB = 511");
}

TEST_F(hydsim_pty, control_socket_round_trip) {
    EXPECT_EQ(sim.request("set delay_ms=x"), "err delay_ms takes a number");
    EXPECT_EQ(sim.request("get no-such"), "err unknown option no_such");
    EXPECT_EQ(sim.request("fly"), "err unknown request fly");
    EXPECT_EQ(sim.request("wait rx"), "err wait KIND TIMEOUT_MS [FROM_SEQ]");
    EXPECT_EQ(sim.request("send 0g"), "err send needs hex bytes");
    EXPECT_EQ(sim.request("host line 9600"), "err unknown host report");
    EXPECT_FALSE(sim.wait("break_on", 20));

    auto from = sim.next_seq();
    sim.set("ping_text", "a b%c");
    EXPECT_EQ(sim.get("ping-text"), "a b%c");
    EXPECT_EQ(sim.wait("option", 0, from)->detail, "ping_text=a%20b%25c");
    hyd::sim::control waiting(std::getenv("HYD_SIM_CONTROL"));
    std::thread t([&] { EXPECT_EQ(waiting.wait("command", 2000, from)->detail, "CK"); });
    ASSERT_EQ(write(fd, "CK\r", 3), 3);
    const std::string reply = "CK\r\n[Parameters saved as user defaults]\r\n>";
    EXPECT_EQ(read(), reply);
    t.join();
    EXPECT_EQ(sim.received(from), (std::vector<std::uint8_t>{'C', 'K', '\r'}));
    EXPECT_EQ(sim.sent(from), std::vector<std::uint8_t>(reply.begin(), reply.end()));
    auto events = sim.events(from);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().seq + 1, sim.next_seq());

    sim.send({0x00, 0xFF});
    EXPECT_EQ(read(2), std::string("\x00\xff", 2));
    sim.hangup();
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    EXPECT_EQ(sim.state()["hung_up"], "1");
}

} // namespace
