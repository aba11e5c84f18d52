// The instrument's side of the serial dialogue, without any I/O: bytes from the host and line
// events (breaks, host line settings, purges) go in with the time they happened; bytes to send,
// each with the time it is due, and log events come out. Wake-up and banner, echo, text and
// checksum modes, the commands, ping cycles and the faults of `options` all live here.
#pragma once

#include "event_log.h"
#include "options.h"

#include <cstdint>
#include <deque>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace hydsim {

class dialogue {
  public:
    static constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();

    dialogue(event_log& log, const options& o);

    // Set at any time (control `set`); read on every byte.
    options& opts() { return opts_; }
    const options& opts() const { return opts_; }

    // Bytes the host sent.
    void receive(const std::uint8_t* data, std::size_t size, std::int64_t now_us);
    // What the pty itself shows of the host's line: baud (0 when unknown) and stop bits.
    void pty_line(int baud, int stop);
    // Reports of the host's calls.
    void host_line(const line_settings& host, std::int64_t now_us);
    void break_on(std::int64_t now_us);
    void break_off(std::int64_t now_us);
    void break_pulse(int ms, std::int64_t now_us);
    void purge(const std::string& queue, std::int64_t now_us);
    // Raw bytes to the host: no faults, no line-setting garbling.
    void send_raw(const std::string& bytes, std::int64_t now_us);
    // The line is gone: nothing is sent any more.
    void hang_up(std::int64_t now_us);
    // Runs the ping cycle; at most one output per call.
    void tick(std::int64_t now_us);

    // Output due by now, drop and garble applied, not yet written.
    const std::vector<std::uint8_t>& ready(std::int64_t now_us);
    // The first n bytes of ready() went out.
    void written(std::size_t n, std::int64_t now_us);
    // When output is next due (0: some is ready now) and the next ping; `never` when none.
    std::int64_t next_output_us() const;
    std::int64_t next_ping_us() const { return next_ping_us_; }

    bool understands() const;
    bool pinging() const { return next_ping_us_ != never; }
    bool hung_up() const { return hung_up_; }
    // "baud=9600 parity=N ... rx_bytes=N", the dialogue's part of the control `state` answer.
    std::string state() const;

  private:
    struct out_byte {
        std::int64_t due_us;
        std::uint8_t value;
        bool echo;
    };

    void receive_byte(std::uint8_t b, std::int64_t now);
    void checksum_byte(std::uint8_t b, bool break_string, std::int64_t now);
    void queue(const std::string& bytes, std::int64_t now, std::int64_t delay_us = 0,
               bool echo = false);
    void enqueue(const std::string& bytes, std::int64_t earliest_us, bool echo);
    std::int64_t reply_delay() const { return std::int64_t(opts_.delay_ms) * 1000; }
    void wake_up(const char* cause, std::int64_t now);
    void execute(const std::string& command, bool checksum_mode, std::int64_t now);
    void reply(const std::string& command, const std::string& body, bool checksum_mode,
               std::int64_t now, bool prompt = true);
    void emit(std::int64_t now, std::string kind, std::string detail = {});

    event_log& log_;
    options opts_;
    line_settings host_;
    bool host_reported_ = false;

    bool asleep_ = false;
    bool checksum_mode_ = false;
    bool hung_up_ = false;
    std::string line_;
    int sum_bytes_ = -1; // checksum mode: -1 reading text, else how many sum bytes arrived
    std::uint16_t sum_got_ = 0;
    int equals_run_ = 0;
    std::int64_t break_on_us_ = -1;
    std::uint64_t breaks_ = 0;
    std::uint64_t wakeups_ = 0;
    std::string last_command_;
    std::string name_;
    std::map<std::string, std::string> parameters_;

    int pings_left_ = 0;
    std::int64_t next_ping_us_ = never; // never: not pinging
    std::uint32_t ensemble_number_ = 0;

    std::deque<out_byte> out_;
    std::vector<std::uint8_t> ready_; // due, faults applied, not yet written
    std::int64_t next_slot_us_ = 0;   // earliest time for the next queued byte
    std::uint64_t sent_count_ = 0;
    std::uint64_t rx_bytes_ = 0;
};

} // namespace hydsim
