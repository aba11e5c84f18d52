#include "sim_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace hydsim_test {

namespace {

std::string read_line(int fd) {
    std::string line;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

speed_t speed_of(int baud) {
    switch (baud) {
    case 300:
        return B300;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        throw std::invalid_argument("baud");
    }
}

} // namespace

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

sim_host::sim_host(const std::vector<std::string>& args) {
    char dir[] = "/tmp/hydsim-test.XXXXXX";
    if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp");
    dir_ = dir;
    log_ = dir_ + "/events.log";
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> argv{HYD_SIM_BIN, "--exit-with-parent", "--log=" + log_};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        close(out[0]);
        close(out[1]);
        std::vector<char*> p;
        for (auto& a : argv) p.push_back(a.data());
        p.push_back(nullptr);
        execv(p[0], p.data());
        _exit(127);
    }
    close(out[1]);
    pty_ = read_line(out[0]);
    std::string control = read_line(out[0]);
    read_line(out[0]);
    close(out[0]);
    if (pty_.empty() || control.rfind("control ", 0) != 0) {
        stop();
        throw std::runtime_error("hydsim did not start");
    }
    control = control.substr(8);
    setenv("HYD_SIM_PTY", pty_.c_str(), 1);
    setenv("HYD_SIM_CONTROL", control.c_str(), 1);
    control_ = std::make_unique<hyd::sim::control>(control);
    fd_ = open(pty_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open " + pty_);
    set_line(9600);
}

sim_host::~sim_host() {
    stop();
    std::remove(log_.c_str());
    rmdir(dir_.c_str());
}

int sim_host::stop() {
    control_.reset();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
}

void sim_host::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) throw std::runtime_error("write to the pty failed");
        done += std::size_t(n);
    }
}

std::string sim_host::read_until(const std::string& end, int timeout_ms) {
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string got;
    while (got.size() < end.size() || got.compare(got.size() - end.size(), end.size(), end) != 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0 || !(p.revents & POLLIN)) break;
        char c;
        if (read(fd_, &c, 1) != 1) break;
        got += c;
    }
    return got;
}

std::string sim_host::read_for(int ms) {
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(ms);
    std::string got;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0 || !(p.revents & POLLIN)) break;
        char buf[4096];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, std::size_t(n));
    }
    return got;
}

std::string sim_host::read_n(std::size_t count, int timeout_ms, int quiet_ms) {
    using clock = std::chrono::steady_clock;
    auto deadline = clock::now() + std::chrono::milliseconds(timeout_ms);
    std::string got;
    while (got.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, int(left.count())) <= 0 || !(p.revents & POLLIN)) break;
        char buf[4096];
        ssize_t n = read(fd_, buf, std::min(sizeof buf, count - got.size()));
        if (n <= 0) break;
        got.append(buf, std::size_t(n));
    }
    return got + read_for(quiet_ms);
}

std::string sim_host::command(const std::string& text, int timeout_ms) {
    write(text + "\r");
    return read_until("\r\n>", timeout_ms);
}

void sim_host::set_line(int baud, char parity, int stop, int data) {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) throw std::runtime_error("tcgetattr");
    cfmakeraw(&t);
    cfsetispeed(&t, speed_of(baud));
    cfsetospeed(&t, speed_of(baud));
    t.c_cflag &= ~tcflag_t(PARENB | PARODD | CMSPAR | CSTOPB | CSIZE);
    switch (parity) {
    case 'E':
        t.c_cflag |= PARENB;
        break;
    case 'O':
        t.c_cflag |= PARENB | PARODD;
        break;
    case 'M':
        t.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 'S':
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (stop == 2) t.c_cflag |= CSTOPB;
    t.c_cflag |= data == 7 ? CS7 : data == 6 ? CS6 : data == 5 ? CS5 : CS8;
    if (tcsetattr(fd_, TCSANOW, &t) != 0)
        throw std::runtime_error(std::string("tcsetattr: ") + std::strerror(errno));
}

void sim_host::line_break(int hold_ms) {
    if (ioctl(fd_, TIOCSBRK, 0) != 0) throw std::runtime_error("TIOCSBRK");
    usleep(useconds_t(hold_ms) * 1000);
    if (ioctl(fd_, TIOCCBRK, 0) != 0) throw std::runtime_error("TIOCCBRK");
}

std::string sim_host::wake() {
    write("=======");
    return read_until("\r\n>");
}

} // namespace hydsim_test
