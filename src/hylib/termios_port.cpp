#include "hylib/termios_port.h"

#include <algorithm>

#ifndef _WIN32
#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace hyd {

bool is_table_baud(int baud) {
    return std::find(std::begin(setup::baud_rates), std::end(setup::baud_rates),
                     static_cast<std::uint32_t>(baud)) != std::end(setup::baud_rates);
}

#ifndef _WIN32

namespace {

constexpr int break_hold_ms = 400;

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
    default:
        return B115200;
    }
}

using steady = std::chrono::steady_clock;

// Milliseconds left until deadline for poll(), never negative; -1 (no limit) without a deadline.
int left_ms(bool limited, steady::time_point deadline) {
    if (!limited) return -1;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

cancel_pipe* as_pipe(cancel_ref cancel) {
    return static_cast<cancel_pipe*>(cancel);
}

} // namespace

cancel_pipe::cancel_pipe() {
    if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) fds_[0] = fds_[1] = -1;
}

cancel_pipe::~cancel_pipe() {
    for (int fd : fds_)
        if (fd >= 0) ::close(fd);
}

void cancel_pipe::signal() noexcept {
    raised_.store(true, std::memory_order_relaxed);
    if (fds_[1] >= 0) {
        const char one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fds_[1], &one, 1);
    }
}

std::unique_ptr<termios_port> termios_port::open(const std::string& path, int baud,
                                                 std::string* why, std::uint32_t parity,
                                                 std::uint32_t stop_bits) {
    if (!is_table_baud(baud)) {
        *why = "baud rate " + std::to_string(baud) +
               " is not one the instrument can use (300, 1200, ... 115200)";
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = errno == ENOENT  ? "no such port"
               : errno == EBUSY ? "busy: another program holds the port"
                                : std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<termios_port> made(new termios_port(fd));
    // Opened without waiting for the modem lines; from here on writes block.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (!isatty(fd)) {
        *why = "not a serial port (not a terminal device)";
        return nullptr;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *why = errno == EWOULDBLOCK ? "busy: another program holds the port" : std::strerror(errno);
        return nullptr;
    }
    const hresult hr = made->apply({static_cast<std::uint32_t>(baud), parity, stop_bits});
    if (hr == e_invalidarg) {
        *why = "parity or stop bits the instrument cannot use";
        return nullptr;
    }
    if (failed(hr)) {
        *why = std::strerror(errno);
        return nullptr;
    }
    return made;
}

bool termios_port::cancelled(cancel_ref cancel) {
    const cancel_pipe* c = as_pipe(cancel);
    return c && c->signalled();
}

hresult termios_port::apply(const setup::settings& s) {
    static constexpr tcflag_t parity_flags[] = {0, PARENB | PARODD, PARENB,
                                                PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
    if (!is_table_baud(static_cast<int>(s.baud)) || s.parity > 4 ||
        (s.stop_bits != 0 && s.stop_bits != 2))
        return e_invalidarg;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return hresult_from_win32(static_cast<std::uint32_t>(errno));
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CSIZE);
    t.c_cflag |= CS8 | CLOCAL | CREAD | parity_flags[s.parity] | (s.stop_bits ? CSTOPB : 0);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, speed_of(static_cast<int>(s.baud)));
    cfsetospeed(&t, speed_of(static_cast<int>(s.baud)));
    if (tcsetattr(fd_, TCSANOW, &t) != 0)
        return hresult_from_win32(static_cast<std::uint32_t>(errno));
    return s_ok;
}

hresult termios_port::set_baud(std::uint32_t baud) {
    termios t{};
    if (!is_table_baud(static_cast<int>(baud))) return e_invalidarg;
    if (tcgetattr(fd_, &t) != 0) return hresult_from_win32(static_cast<std::uint32_t>(errno));
    cfsetispeed(&t, speed_of(static_cast<int>(baud)));
    cfsetospeed(&t, speed_of(static_cast<int>(baud)));
    if (tcsetattr(fd_, TCSANOW, &t) != 0)
        return hresult_from_win32(static_cast<std::uint32_t>(errno));
    return s_ok;
}

termios_port::~termios_port() {
    ::close(fd_);
}

bool termios_port::purge_received() {
    begin_ = end_ = 0;
    return tcflush(fd_, TCIFLUSH) == 0;
}

bool termios_port::write(const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) {
    // The descriptor blocks on writes: without flow control the line takes the bytes at its rate.
    *done = 0;
    while (*done < count) {
        const ssize_t n = ::write(fd_, data + *done, count - *done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        *done += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool termios_port::fill(cancel_ref cancel, int timeout_ms) {
    cancel_pipe* c = as_pipe(cancel);
    pollfd fds[2] = {{c ? c->descriptor() : -1, POLLIN, 0}, {fd_, POLLIN, 0}};
    const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        const int r = poll(fds, 2, left_ms(timeout_ms != 0, deadline));
        if (r < 0) {
            if (errno == EINTR) continue;
            throw_platform(static_cast<std::uint32_t>(errno));
        }
        if (c && c->signalled()) throw_module(HY_E_CANCELLED);
        if (r == 0) return false;
        if (fds[1].revents & POLLNVAL) throw_platform(EBADF);
        if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
        if (n > 0) {
            begin_ = 0;
            end_ = static_cast<std::size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR) continue;
        throw_platform(EIO); // readable but empty, or failing: the line hung up
    }
}

std::uint8_t termios_port::read_byte(cancel_ref cancel) {
    if (cancel_pipe* c = as_pipe(cancel); c && c->signalled()) throw_module(HY_E_CANCELLED);
    if (begin_ == end_ && !fill(cancel, read_timeout_ms_)) throw_module(HY_E_TIMEOUT);
    return buffer_[begin_++];
}

std::size_t termios_port::read_some(std::uint8_t* out, std::size_t max, cancel_ref cancel) {
    if (begin_ == end_) {
        try {
            fill(cancel, 0);
        } catch (long) {
            return 0; // cancelled
        }
    }
    const std::size_t n = std::min(max, end_ - begin_);
    std::memcpy(out, buffer_ + begin_, n);
    begin_ += n;
    return n;
}

hresult termios_port::send_break(cancel_ref cancel) {
    if (break_type_ != 0) {
        static constexpr std::uint8_t break_string[] = {'=', '=', '=', '=', '=', '=', '='};
        std::uint32_t done = 0;
        return write(break_string, sizeof break_string, &done) ? s_ok : e_fail;
    }
    if (ioctl(fd_, TIOCSBRK) != 0) return hresult_from_win32(static_cast<std::uint32_t>(errno));
    hresult hr = s_ok;
    cancel_pipe* c = as_pipe(cancel);
    pollfd wait{c ? c->descriptor() : -1, POLLIN, 0};
    const auto deadline = steady::now() + std::chrono::milliseconds(break_hold_ms);
    for (int left; (left = left_ms(true, deadline)) > 0;) {
        if (c && c->signalled()) break;
        poll(&wait, 1, left);
    }
    if (c && c->signalled()) hr = HY_E_CANCELLED;
    // The line must never stay in break, whatever ended the wait.
    if (ioctl(fd_, TIOCCBRK) != 0) return hresult_from_win32(static_cast<std::uint32_t>(errno));
    return hr;
}

#endif

} // namespace hyd
