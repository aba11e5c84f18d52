// The simulator's line and loop: the pseudo-terminal (its master side carries the dialogue's
// bytes, its slave side stays open and raw for the host), the clock, the signals that stop it and
// the poll loop that drives the dialogue and the control server.
#pragma once

#include "dialogue.h"

#include <cstdint>
#include <string>

namespace hydsim {

class control_server;

// Microseconds since the simulator started (monotonic).
class sim_clock {
  public:
    sim_clock();
    std::int64_t now_us() const;

  private:
    std::int64_t start_us_;
};

class pty_line {
  public:
    pty_line() = default;
    ~pty_line();
    pty_line(const pty_line&) = delete;
    pty_line& operator=(const pty_line&) = delete;

    // Opens the pty at the instrument's speed and stop bits; false with the reason on failure.
    bool open(const line_settings& instrument, std::string& error);
    const std::string& path() const { return path_; }
    int master() const { return master_; }

    // Shows the dialogue the host's baud and stop bits as the pty has them.
    void show_line(dialogue& d) const;
    // Hands everything the host wrote to the dialogue.
    void read(dialogue& d, const sim_clock& clock);
    // Writes the dialogue's due output, as much as the host's side takes.
    void write(dialogue& d, const sim_clock& clock);
    // The host's port hangs up.
    void close();

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// Blocks SIGTERM and SIGINT for the loop to receive; -1 on failure.
int stop_signals();

// Runs until SIGTERM or SIGINT (0) or a failing poll (1).
int run(int signal_fd, pty_line& pty, dialogue& d, control_server& control, event_log& log,
        const sim_clock& clock);

} // namespace hydsim
