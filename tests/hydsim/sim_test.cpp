// hydsim for real, run through hyd_add_sim_test (SIM_ARGS --baud=19200): a native host on the pty,
// the preload library arriving by LD_PRELOAD, and the control socket.
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

struct hydsim_pty : ::testing::Test {
    // Sets the host's line through the preload, or behind its back.
    void line(speed_t speed, tcflag_t flags, bool behind = false) {
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, speed);
        t.c_cflag = (t.c_cflag & ~tcflag_t(PARENB | CSTOPB | CSIZE)) | flags;
        ASSERT_EQ(behind ? syscall(SYS_ioctl, fd, TCSETS, &t) : tcsetattr(fd, TCSANOW, &t), 0);
    }
    // Writes `text`, then reads up to `count` bytes or a prompt.
    std::string talk(const std::string& text, std::size_t count = 4096) {
        EXPECT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
        std::string got;
        pollfd p{fd, POLLIN, 0};
        for (char c; got.size() < count && !got.ends_with("\r\n>") && poll(&p, 1, 2000) == 1 &&
                     read(fd, &c, 1) == 1;)
            got += c;
        return got;
    }

    int fd = open(std::getenv("HYD_SIM_PORT"), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    hyd::sim::control sim;
};

TEST_F(hydsim_pty, speed_set_behind_the_preloads_back_and_breaks) {
    line(B9600, CS8);
    line(B19200, CS8, true); // the simulator reads the speed off the pty itself
    EXPECT_EQ(talk("A", 1), "A");
    ASSERT_EQ(tcsendbreak(fd, 0), 0);
    ASSERT_EQ(ioctl(fd, TCSBRK, 1), 0); // tcdrain, not a break
    EXPECT_EQ(sim.state()["breaks"], "1");
}

TEST_F(hydsim_pty, control_socket_round_trip) {
    line(B19200, CS8);
    EXPECT_EQ(sim.request("set delay_ms=x") + sim.request("fly"),
              "err delay_ms takes a numbererr unknown request fly");
    EXPECT_FALSE(sim.wait("break_on", 20));
    auto from = sim.next_seq();
    sim.set("ping_text", "a b%c");
    EXPECT_EQ(sim.get("ping-text"), "a b%c");
    hyd::sim::control waiting(std::getenv("HYD_SIM_CONTROL"));
    std::thread later([&] { EXPECT_EQ(waiting.wait("command", 2000, from)->detail, "CB?"); });
    const std::string reply = "CB?\r\nCB = 511 ----- serial port (baud, parity, stop bits)\r\n>";
    EXPECT_EQ(talk("CB?\r"), reply);
    later.join();
    EXPECT_EQ(sim.received(from), (std::vector<std::uint8_t>{'C', 'B', '?', '\r'}));
    EXPECT_EQ(sim.sent(from), std::vector<std::uint8_t>(reply.begin(), reply.end()));
    sim.send({0x00, 0xFF});
    EXPECT_EQ(talk("", 2), std::string("\x00\xff", 2));
    sim.hangup();
    pollfd p{fd, POLLIN, 0};
    EXPECT_TRUE(poll(&p, 1, 1000) == 1 && (p.revents & POLLHUP));
    EXPECT_EQ(sim.state()["hung_up"], "1");
}

} // namespace
