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
    std::string kind;         // rx, tx, break_on, break_off, line, purge, wakeup, command, ...
    std::string detail;       // kind-specific; bytes as hex, texts %-encoded
};

class control {
  public:
    // Connects to HYD_SIM_CONTROL, or to "HOST:PORT".
    control();
    explicit control(const std::string& address);
    ~control();
    control(const control&) = delete;
    control& operator=(const control&) = delete;

    // One request line, its first answer line (without the newline).
    std::string request(const std::string& line);
    // Options and faults (tools/hydsim/README.md); throws when the simulator refuses.
    void set(const std::string& key, const std::string& value);
    std::string get(const std::string& key);
    // host_baud, understood, breaks, hung_up, ... (values decoded).
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
    // The answer after "ok", or throws.
    std::string ok(const std::string& line) { return ok(line, request(line)); }
    std::string ok(const std::string& line, const std::string& answer);
    std::vector<std::uint8_t> bytes(const std::string& verb, std::uint64_t from);

    std::intptr_t socket_ = -1;
    std::string buffer_;
};

} // namespace hyd::sim
