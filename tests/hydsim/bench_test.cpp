// A native program run through hyd_add_sim_test: its own simulator per case, started with the
// SIM_ARGS of the target, and the preload library arriving by LD_PRELOAD.
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

class sim_bench : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* port = std::getenv("HYD_SIM_PORT");
        ASSERT_NE(port, nullptr);
        fd = open(port, O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0) << port;
        termios t{};
        ASSERT_EQ(tcgetattr(fd, &t), 0);
        cfmakeraw(&t);
        cfsetspeed(&t, B19200);
        ASSERT_EQ(tcsetattr(fd, TCSANOW, &t), 0);
    }
    void TearDown() override {
        if (fd >= 0) close(fd);
    }
    std::string read_prompted() {
        std::string got;
        while (got.size() < 3 || got.compare(got.size() - 3, 3, "\r\n>") != 0) {
            pollfd p{fd, POLLIN, 0};
            char c;
            if (poll(&p, 1, 2000) != 1 || read(fd, &c, 1) != 1) break;
            got += c;
        }
        return got;
    }
    int fd = -1;
};

TEST_F(sim_bench, simulator_options_and_preload_reach_the_case) {
    hyd::sim::control sim;
    EXPECT_EQ(sim.get("baud"), "19200");
    ASSERT_EQ(tcsendbreak(fd, 0), 0);
    EXPECT_EQ(sim.state()["breaks"], "1") << "the break came through LD_PRELOAD";
    EXPECT_NE(read_prompted().find("HY I"), std::string::npos);
    ASSERT_EQ(write(fd, "CB?\r", 4), 4);
    EXPECT_EQ(read_prompted().substr(10, 3), "511");
}

TEST_F(sim_bench, every_case_has_a_fresh_simulator) {
    hyd::sim::control sim;
    auto s = sim.state();
    EXPECT_EQ(s["breaks"], "0");
    EXPECT_EQ(s["wakeups"], "0");
    EXPECT_EQ(s["pty"], std::getenv("HYD_SIM_PTY"));
}

} // namespace
