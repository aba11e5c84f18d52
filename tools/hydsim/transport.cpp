#include "transport.h"

#include "control_server.h"
#include "line_speed.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace hydsim {

namespace {

std::int64_t monotonic_us() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

} // namespace

sim_clock::sim_clock() : start_us_(monotonic_us()) {}

std::int64_t sim_clock::now_us() const {
    return monotonic_us() - start_us_;
}

pty_line::~pty_line() {
    close();
}

bool pty_line::open(const line_settings& instrument, std::string& error) {
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        error = std::string("cannot open a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    path_ = name;
    // The slave stays open and raw: the host's settings then land on a quiet line, and reads on
    // the master keep working after the host closes its side.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, hydsim_speed_of(instrument.baud));
    cfsetospeed(&t, hydsim_speed_of(instrument.baud));
    if (instrument.stop == 2) t.c_cflag |= CSTOPB;
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    return true;
}

void pty_line::show_line(dialogue& d) const {
    termios t{};
    if (slave_ < 0 || tcgetattr(slave_, &t) != 0) return;
    d.pty_line(hydsim_baud_of(cfgetospeed(&t)), (t.c_cflag & CSTOPB) ? 2 : 1);
}

void pty_line::read(dialogue& d, const sim_clock& clock) {
    if (master_ < 0) return;
    std::uint8_t buf[4096];
    ssize_t n;
    // Stops at EAGAIN, or EIO while no slave is open (ours always is).
    while ((n = ::read(master_, buf, sizeof buf)) > 0) {
        show_line(d);
        d.receive(buf, std::size_t(n), clock.now_us());
    }
}

void pty_line::write(dialogue& d, const sim_clock& clock) {
    if (master_ < 0) return;
    const auto& out = d.ready(clock.now_us());
    std::size_t written = 0;
    while (written < out.size()) {
        ssize_t n = ::write(master_, out.data() + written, out.size() - written);
        if (n <= 0) break; // the host is not reading: the rest waits for room
        written += std::size_t(n);
    }
    d.written(written, clock.now_us());
}

void pty_line::close() {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
}

int stop_signals() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
    return signalfd(-1, &mask, SFD_CLOEXEC);
}

int run(int signal_fd, pty_line& pty, dialogue& d, control_server& control, event_log& log,
        const sim_clock& clock) {
    for (;;) {
        log.flush();
        std::vector<pollfd> fds{{signal_fd, POLLIN, 0}, {pty.master(), POLLIN, 0}};
        std::int64_t now = clock.now_us();
        std::int64_t next = std::min(now + 1000000, d.next_ping_us());
        std::int64_t out_due = d.next_output_us();
        if (out_due <= now)
            fds[1].events |= POLLOUT;
        else
            next = std::min(next, out_due);
        control.poll_fds(fds, next);
        int timeout = int(std::max<std::int64_t>(0, (next - now + 999) / 1000));
        if (fds[1].events & POLLOUT) timeout = std::min(timeout, 5);
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) return 1;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo si;
            if (::read(signal_fd, &si, sizeof si) > 0) {
                log.emit(clock.now_us(), "stop", std::to_string(si.ssi_signo));
                log.flush();
                return 0;
            }
        }
        if (fds[1].revents & POLLIN) pty.read(d, clock);
        control.serve(fds, 2);
        d.tick(clock.now_us());
        pty.write(d, clock);
        control.check_waiters();
    }
}

} // namespace hydsim
