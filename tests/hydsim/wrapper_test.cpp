// with-hydsim.sh: the COM port link, the environment it hands over, the clean-up, the port locks.
// Runs native commands against a scratch prefix (no Wine needed).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct run_result {
    int status = -1;
    std::string out;
};

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class sim_wrapper : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/hydsim-prefix.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        prefix = dir;
    }
    void TearDown() override { fs::remove_all(prefix); }

    std::string command_line(const std::string& script, const std::string& sim_args = {},
                             const std::string& prefix_arg = {}) {
        return "env -u HYD_SIM_CONTROL -u HYD_SIM_PTY -u HYD_SIM_PORT HYD_SIM_SKIP_WINE_BOOT=1 " +
               std::string(HYD_SIM_WRAPPER) + " " +
               quoted(prefix_arg.empty() ? prefix : prefix_arg) + " --hydsim-bin=" + HYD_SIM_BIN +
               " " + sim_args + " -- bash -c " + quoted(script);
    }

    run_result run(const std::string& script, const std::string& sim_args = {},
                   const std::string& prefix_arg = {}) {
        run_result r;
        FILE* p = popen((command_line(script, sim_args, prefix_arg) + " 2>&1").c_str(), "r");
        if (!p) return r;
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        int status = pclose(p);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return r;
    }

    std::string prefix;
};

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> lines;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

// A zombie waiting for a reaper that may be slow counts as ended.
bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Asks the simulator for its state through bash's /dev/tcp.
const char* ask_state = "a=${HYD_SIM_CONTROL#*:}; exec 3<>/dev/tcp/127.0.0.1/$a; "
                        "echo state >&3; read -r s <&3; echo \"$s\"; ";

TEST_F(sim_wrapper, hands_over_a_mapped_port_and_cleans_up) {
    auto r =
        run(std::string("echo \"$HYD_SIM_PORT\"; echo \"$HYD_SIM_PTY\"; echo \"$HYD_SIM_LOG\"; "
                        "readlink \"") +
                prefix + "/dosdevices/${HYD_SIM_PORT,,}\"; " +
                "case \" $LD_PRELOAD\" in *libhydpreload.so*) echo preload;; esac; " + ask_state +
                "exit 7",
            "--baud=19200");
    EXPECT_EQ(r.status, 7) << r.out;
    auto l = lines_of(r.out);
    ASSERT_GE(l.size(), 6u) << r.out;
    ASSERT_EQ(l[0].rfind("COM", 0), 0u) << l[0];
    int n = std::atoi(l[0].c_str() + 3);
    EXPECT_GE(n, 10);
    EXPECT_LE(n, 99);
    EXPECT_EQ(l[1].rfind("/dev/pts/", 0), 0u);
    EXPECT_EQ(l[3], l[1]) << "comN links to the pty";
    EXPECT_EQ(l[4], "preload");
    EXPECT_NE(l[5].find(" baud=19200 "), std::string::npos) << "simulator options pass through";
    auto pid_at = l[5].find(" pid=");
    ASSERT_NE(pid_at, std::string::npos);
    pid_t pid = std::atoi(l[5].c_str() + pid_at + 5);

    EXPECT_FALSE(fs::exists(fs::symlink_status(prefix + "/dosdevices/com" + std::to_string(n))))
        << "link left behind";
    EXPECT_FALSE(fs::exists(l[2])) << "log left behind";
    EXPECT_FALSE(fs::exists(fs::path(l[2]).parent_path()));
    EXPECT_FALSE(alive(pid)) << "simulator left running";
    // The failed command gets the log's tail on stderr.
    EXPECT_NE(r.out.find("simulator events"), std::string::npos);
}

TEST_F(sim_wrapper, parallel_runs_get_their_own_ports) {
    std::string cmd = command_line("echo $HYD_SIM_PORT; sleep 0.5");
    FILE* a = popen(cmd.c_str(), "r");
    FILE* b = popen(cmd.c_str(), "r");
    ASSERT_TRUE(a && b);
    char la[64] = {}, lb[64] = {};
    ASSERT_NE(fgets(la, sizeof la, a), nullptr);
    ASSERT_NE(fgets(lb, sizeof lb, b), nullptr);
    EXPECT_EQ(pclose(a), 0);
    EXPECT_EQ(pclose(b), 0);
    EXPECT_EQ(std::string(la).rfind("COM", 0), 0u);
    EXPECT_NE(std::string(la), std::string(lb));
    EXPECT_TRUE(fs::is_empty(prefix + "/dosdevices"));
}

TEST_F(sim_wrapper, leaves_foreign_links_alone_and_replaces_stale_ones) {
    fs::create_directories(prefix + "/dosdevices");
    fs::create_symlink("/dev/ttyS0", prefix + "/dosdevices/com10");
    fs::create_symlink("/dev/pts/9999", prefix + "/dosdevices/com11");
    auto r = run("echo $HYD_SIM_PORT");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "COM11\n");
    EXPECT_EQ(fs::read_symlink(prefix + "/dosdevices/com10"), "/dev/ttyS0");
    EXPECT_FALSE(fs::exists(fs::symlink_status(prefix + "/dosdevices/com11")));
}

TEST_F(sim_wrapper, native_runs_use_the_pty_itself) {
    auto r =
        run("[ \"$HYD_SIM_PORT\" = \"$HYD_SIM_PTY\" ] && [ -c \"$HYD_SIM_PORT\" ] && echo same", {},
            "-");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "same\n");
}

TEST_F(sim_wrapper, test_listing_runs_without_a_simulator) {
    std::string listing = command_line("echo ${HYD_SIM_CONTROL:-none}") + " --gtest_list_tests";
    FILE* p = popen(listing.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[64] = {};
    ASSERT_NE(fgets(line, sizeof line, p), nullptr);
    pclose(p);
    EXPECT_EQ(std::string(line), "none\n");
    EXPECT_FALSE(fs::exists(prefix + "/dosdevices"));
}

TEST_F(sim_wrapper, a_killed_wrapper_takes_its_simulator_along) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    if (child == 0) {
        setpgid(0, 0);
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::string script =
            std::string(ask_state) + "echo \"$HYD_SIM_LOG\"; exec 3>&- 1>&-; sleep 5";
        execl("/bin/sh", "sh", "-c", ("exec " + command_line(script)).c_str(), nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string state, log;
    char c;
    while (read(out[0], &c, 1) == 1 && c != '\n') state += c;
    while (read(out[0], &c, 1) == 1 && c != '\n') log += c;
    close(out[0]);
    auto pid_at = state.find(" pid=");
    ASSERT_NE(pid_at, std::string::npos) << state;
    pid_t sim = std::atoi(state.c_str() + pid_at + 5);
    // child is the wrapper itself: sh and env exec it.
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    bool gone = false;
    for (int i = 0; i < 200 && !gone; ++i) {
        gone = !alive(sim);
        if (!gone) usleep(10000);
    }
    kill(-child, SIGKILL); // the orphaned command
    // A SIGKILL leaves the wrapper no time to tidy its scratch folder.
    if (!log.empty()) fs::remove_all(fs::path(log).parent_path());
    EXPECT_TRUE(gone) << "simulator " << sim << " outlived its wrapper";
}

TEST_F(sim_wrapper, reports_a_missing_simulator_or_command) {
    std::string base = "HYD_SIM_SKIP_WINE_BOOT=1 " + std::string(HYD_SIM_WRAPPER) + " " + prefix;
    EXPECT_EQ(
        WEXITSTATUS(std::system((base + " --hydsim-bin=/nonexistent -- true 2>/dev/null").c_str())),
        2);
    EXPECT_EQ(WEXITSTATUS(
                  std::system((base + " --hydsim-bin=" + HYD_SIM_BIN + " -- 2>/dev/null").c_str())),
              2);
    EXPECT_EQ(
        WEXITSTATUS(std::system(
            (base + " --hydsim-bin=" + HYD_SIM_BIN + " --bogus -- true 2>/dev/null").c_str())),
        1)
        << "a simulator that refuses its options fails the run";
    EXPECT_FALSE(fs::exists(prefix + "/dosdevices") && !fs::is_empty(prefix + "/dosdevices"));
}

} // namespace
