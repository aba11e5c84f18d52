// with-hydsim.sh against a scratch prefix (no Wine needed): the clean-up and the log; hydsim's
// start-up refusals and --exit-with-parent. Every suite on the simulator uses the port it claims.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A zombie waiting for a slow reaper counts as ended.
bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    return std::getline(stat, line) && line.substr(line.rfind(')') + 2, 1) != "Z";
}

// Exit status and output lines of a shell command.
int run(const std::string& command, std::vector<std::string>& lines) {
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char buf[4096];
    while (p && fgets(buf, sizeof buf, p)) lines.emplace_back(buf, std::strlen(buf) - 1);
    int status = p ? pclose(p) : -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(hydsim_wrapper, claims_a_port_cleans_up_and_refuses_bad_options) {
    std::string prefix = "/tmp/hydsim-prefix.XXXXXX";
    ASSERT_NE(mkdtemp(prefix.data()), nullptr);
    std::string wrapper = "env -u HYD_SIM_CONTROL HYD_SIM_SKIP_WINE_BOOT=1 " HYD_SIM_WRAPPER " " +
                          prefix + " --hydsim-bin=" HYD_SIM_BIN;
    // The command fails; the port's link and the log's folder go, the log's tail comes out.
    std::vector<std::string> l;
    EXPECT_EQ(run(wrapper + " --baud=19200 -- bash -c 'echo $HYD_SIM_PTY $HYD_SIM_LOG; exit 7'", l),
              7);
    ASSERT_GE(l.size(), 3u);
    std::string pty = l[0].substr(0, l[0].find(' ')), log = l[0].substr(pty.size() + 1);
    EXPECT_TRUE(std::filesystem::is_empty(prefix + "/dosdevices")) << "link left behind";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(log).parent_path()));
    EXPECT_NE(l[2].find(" start " + pty + " 19200 N 1 8"), std::string::npos) << l[2];
    EXPECT_NE(l.back().find(" stop 15"), std::string::npos) << l.back();

    EXPECT_EQ(run(wrapper + " --ping_cells=0 -- true", l), 1);
    EXPECT_EQ(l.back(), "hydsim: ping_cells is 1 to 128");
    std::filesystem::remove_all(prefix);
    EXPECT_EQ(run(HYD_SIM_BIN " --baud=14400", l), 2);
    EXPECT_EQ(l.back(), "hydsim: baud not in the table");
}

TEST(hydsim_wrapper, exit_with_parent_even_when_it_is_killed) {
    std::vector<std::string> l;
    run("bash -c '" HYD_SIM_BIN " --exit-with-parent >/dev/null 2>&1 & echo $!; sleep 0.3; "
        "kill -9 $$'",
        l);
    ASSERT_FALSE(l.empty());
    pid_t sim = std::atoi(l[0].c_str());
    for (int i = 0; i < 200 && alive(sim); ++i) usleep(10000);
    EXPECT_FALSE(alive(sim) && kill(sim, SIGTERM) == 0) << "hydsim outlived its parent";
}

} // namespace
