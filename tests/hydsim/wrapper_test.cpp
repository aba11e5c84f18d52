// with-hydsim.sh against a scratch prefix (no Wine needed): the claimed COM port link, the
// environment, the clean-up and the log; a killed wrapper takes its simulator along
// (--exit-with-parent); bad simulator options stop the run at start-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A zombie waiting for a slow reaper counts as ended.
bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return std::getline(stat, line) && line.substr(line.rfind(')') + 2, 1) != "Z";
}

pid_t pid_in(const std::string& state) {
    auto at = state.find(" pid=");
    return at == std::string::npos ? 0 : std::atoi(state.c_str() + at + 5);
}

class hydsim_wrapper : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/hydsim-prefix.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        prefix = dir;
    }
    void TearDown() override { fs::remove_all(prefix); }

    std::string command(const std::string& script, const std::string& sim_args = {}) {
        return "env -u HYD_SIM_CONTROL -u HYD_SIM_PTY HYD_SIM_SKIP_WINE_BOOT=1 " HYD_SIM_WRAPPER
               " " +
               prefix + " --hydsim-bin=" HYD_SIM_BIN " " + sim_args + " -- bash -c '" + script +
               "'";
    }
    // Exit status and output lines.
    int run(const std::string& script, std::vector<std::string>& lines,
            const std::string& sim_args = {}) {
        FILE* p = popen((command(script, sim_args) + " 2>&1").c_str(), "r");
        char buf[512];
        while (p && fgets(buf, sizeof buf, p)) lines.emplace_back(buf, std::strlen(buf) - 1);
        int status = p ? pclose(p) : -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string prefix;
};

// Asks the simulator for its state through bash's /dev/tcp.
#define ASK_STATE                                                                                  \
    "exec 3<>/dev/tcp/127.0.0.1/${HYD_SIM_CONTROL#*:}; echo state >&3; read -r s <&3; "            \
    "echo \"$s\"; "

TEST_F(hydsim_wrapper, claims_a_port_and_cleans_up) {
    std::vector<std::string> l;
    int status = run("echo $HYD_SIM_PORT $HYD_SIM_PTY $HYD_SIM_LOG; readlink " + prefix +
                         "/dosdevices/${HYD_SIM_PORT,,}; echo $LD_PRELOAD; " ASK_STATE "exit 7",
                     l, "--baud=19200");
    EXPECT_EQ(status, 7);
    ASSERT_GE(l.size(), 4u);
    std::istringstream env(l[0]);
    std::string port, pty, log;
    env >> port >> pty >> log;
    EXPECT_TRUE(port >= "COM10" && port <= "COM99" && port.size() == 5) << port;
    EXPECT_EQ(l[1], pty) << "comN links to the pty";
    EXPECT_NE(l[2].find("libhydpreload.so"), std::string::npos);
    EXPECT_NE(l[3].find(" baud=19200 "), std::string::npos) << "simulator options pass through";
    EXPECT_FALSE(alive(pid_in(l[3])));
    EXPECT_FALSE(fs::exists(fs::symlink_status(prefix + "/dosdevices/com" + port.substr(3))));
    EXPECT_FALSE(fs::exists(fs::path(log).parent_path()));
    // The failed command gets the log's tail, which ends with the clean stop on SIGTERM.
    ASSERT_GE(l.size(), 6u);
    EXPECT_NE(l[5].find(" start " + pty + " 19200 N 1 8"), std::string::npos) << l[5];
    EXPECT_NE(l.back().find(" stop 15"), std::string::npos) << l.back();
}

TEST_F(hydsim_wrapper, a_killed_wrapper_takes_its_simulator_along) {
    std::string cmd = command(ASK_STATE "echo $HYD_SIM_LOG; exec 3>&- 1>&-; sleep 5");
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        execl("/bin/sh", "sh", "-c", ("exec " + cmd).c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char state[4096] = {}, log[512] = {};
    ASSERT_TRUE(fgets(state, sizeof state, in) && fgets(log, sizeof log, in));
    fclose(in);
    pid_t sim = pid_in(state);
    ASSERT_GT(sim, 0) << state;
    kill(child, SIGKILL); // the wrapper itself: sh and env exec it
    waitpid(child, nullptr, 0);
    bool gone = false;
    for (int i = 0; i < 200 && !(gone = !alive(sim)); ++i) usleep(10000);
    kill(-child, SIGKILL); // the orphaned command
    fs::remove_all(fs::path(std::string(log, std::strlen(log) - 1)).parent_path());
    EXPECT_TRUE(gone) << "simulator " << sim << " outlived its wrapper";
}

TEST_F(hydsim_wrapper, bad_options_stop_the_run_at_start_up) {
    std::vector<std::string> l;
    EXPECT_EQ(run("true", l, "--ping_cells=0"), 1);
    EXPECT_NE(std::find(l.begin(), l.end(), "hydsim: ping_cells is 1 to 128"), l.end());
    EXPECT_FALSE(fs::exists(prefix + "/dosdevices") && !fs::is_empty(prefix + "/dosdevices"));
    EXPECT_EQ(WEXITSTATUS(std::system(HYD_SIM_BIN " --baud=14400 2>/dev/null")), 2);
    EXPECT_EQ(WEXITSTATUS(std::system(HYD_SIM_BIN " plain 2>/dev/null")), 2);
}

} // namespace
