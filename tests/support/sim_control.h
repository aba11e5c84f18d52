// Client of the simulated instrument's control socket (tools/hydsim/README.md): set faults and
// options, read its state, wait for its events. Works natively (POSIX sockets) and in Windows
// programs under Wine (Winsock). Failures to talk to the simulator throw std::runtime_error.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace hyd::sim {

struct event {
    std::uint64_t seq = 0;    // 1, 2, ... in the simulator's order
    std::int64_t time_us = 0; // since the simulator started
    std::string kind;         // rx, tx, break_on, break_off, break_pulse, line, purge, wakeup,
                              // command, refused, settings, pinging, ping, sleep, checksum_bad, ...
    std::string detail;       // kind-specific; bytes as hex, texts %-encoded
};

// Parses one event line "SEQ TIME_US KIND [DETAIL]"; nullopt when malformed.
std::optional<event> parse_event(const std::string& line);

// The %XX encoding of values in requests and answers.
std::string encode(const std::string& raw);
std::string decode(const std::string& word);

class control {
  public:
    // Connects to HYD_SIM_CONTROL.
    control();
    // Connects to "HOST:PORT".
    explicit control(const std::string& address);
    ~control();
    control(const control&) = delete;
    control& operator=(const control&) = delete;

    // One request line, its first answer line (without the newline).
    std::string request(const std::string& line);

    // Options and faults: silence, delay_ms, byte_delay_ms, drop, garble, no_banner_id,
    // ignore_breaks, break_min_ms, no_echo, checksum, ck_reply, ping_output, ping_count,
    // ping_interval_ms, ping_text, ping_cells, ax_fail, reject, mismatch, cb_digits, and the
    // instrument's own baud, parity, stop and cf. Throws when the simulator refuses.
    void set(const std::string& key, const std::string& value);
    std::string get(const std::string& key);

    // state(): baud parity stop data host_baud host_parity host_stop host_data host_reported
    // understood breaks wakeups asleep pinging mode hung_up last_command name cf ensembles
    // rx_bytes pty pid (values decoded).
    std::map<std::string, std::string> state();

    // Sequence number the next event will get.
    std::uint64_t next_seq();
    // First event of `kind` with seq >= from (0: since the start), waiting up to timeout_ms.
    std::optional<event> wait(const std::string& kind, int timeout_ms, std::uint64_t from = 0);
    std::vector<event> events(std::uint64_t from = 0);
    // Bytes the simulator received (rx) or sent (tx) in events from seq `from` on.
    std::vector<std::uint8_t> received(std::uint64_t from = 0);
    std::vector<std::uint8_t> sent(std::uint64_t from = 0);
    // Raw bytes to the host, untouched by faults and line settings.
    void send(const std::vector<std::uint8_t>& bytes);
    // Closes the pty: the host's port sees the line hang up.
    void hangup();

  private:
    std::string read_line();
    std::vector<std::uint8_t> hex_request(const std::string& verb, std::uint64_t from);

    std::intptr_t socket_ = -1;
    std::string buffer_;
};

} // namespace hyd::sim
