// The dialogue's port on Linux: a serial device (or pseudo-terminal) through termios, raw with 8
// data bits at a table baud rate, no flow control. Reads wait in poll() beside a cancel descriptor,
// bytes are taken from the line in bursts and handed out one by one, and the line break is TIOCSBRK
// held 400 ms, then TIOCCBRK.
#pragma once

#include "hylib/comm_setup.h"
#include "hylib/port.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>

namespace hyd {

// A cancel signal that a signal handler or another thread may raise: the termios port's
// cancel_ref. signal() is async-signal-safe.
class cancel_pipe {
  public:
    cancel_pipe();
    ~cancel_pipe();
    cancel_pipe(const cancel_pipe&) = delete;
    cancel_pipe& operator=(const cancel_pipe&) = delete;

    void signal() noexcept;
    bool signalled() const noexcept { return raised_.load(std::memory_order_relaxed); }
    // Readable once signalled.
    int descriptor() const { return fds_[0]; }

  private:
    int fds_[2] = {-1, -1};
    std::atomic<bool> raised_{false};
};

class termios_port final : public port, public setup::line_control {
  public:
    // Opens and configures the device (parity and stop bits as DCB codes); null with the reason
    // in *why (a missing path, a port another program holds, a file that is not a terminal, a
    // baud rate the line cannot take).
    static std::unique_ptr<termios_port> open(const std::string& path, int baud, std::string* why,
                                              std::uint32_t parity = 0,
                                              std::uint32_t stop_bits = 0);
    ~termios_port() override;
    termios_port(const termios_port&) = delete;
    termios_port& operator=(const termios_port&) = delete;

    // 0: line break; anything else: the break string.
    void set_break_type(long type) { break_type_ = type; }
    // Per byte; 0 waits without limit.
    void set_read_timeout_ms(int ms) { read_timeout_ms_ = ms; }

    bool purge_received() override;
    bool write(const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) override;
    hresult open_reads() override { return s_ok; }
    void close_reads() override {}
    std::uint8_t read_byte(cancel_ref cancel) override;
    hresult send_break(cancel_ref cancel) override;
    bool clear_errors() override { return true; }
    bool cancelled(cancel_ref cancel) override;

    // Line settings from the instrument's tables; E_INVALIDARG for others. The read time-out
    // stays as set.
    hresult apply(const setup::settings& s) override;
    hresult set_baud(std::uint32_t baud) override;

    // What has arrived (waiting without limit for the first byte): at most max bytes, 0 when
    // cancelled. Throws a platform failure as an int when the line hangs up.
    std::size_t read_some(std::uint8_t* out, std::size_t max, cancel_ref cancel);

  private:
    explicit termios_port(int fd) : fd_(fd) {}
    // Waits for bytes: false when the time-out passed. Throws for a cancel or a failure.
    bool fill(cancel_ref cancel, int timeout_ms);

    int fd_;
    long break_type_ = 0;
    int read_timeout_ms_ = 4000;
    std::uint8_t buffer_[4096];
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// The baud rates the instrument can use (its CB table).
bool is_table_baud(int baud);

} // namespace hyd
