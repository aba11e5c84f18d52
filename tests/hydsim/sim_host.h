// Native test side of the bench: starts a hydsim of its own and plays the host on its pty with
// termios calls, which the preload library (linked into the test) reports to the simulator.
#pragma once

#include "support/sim_control.h"

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace hydsim_test {

class sim_host {
  public:
    // Starts hydsim with `args`, opens its pty raw at 9600 8N1 and points the preload at it.
    explicit sim_host(const std::vector<std::string>& args = {});
    ~sim_host();
    sim_host(const sim_host&) = delete;
    sim_host& operator=(const sim_host&) = delete;

    const std::string& pty() const { return pty_; }
    const std::string& log_path() const { return log_; }
    int fd() const { return fd_; }
    hyd::sim::control& sim() { return *control_; }
    pid_t pid() const { return pid_; }

    void write(const std::string& bytes);
    // Reads until the bytes end with `end` or timeout_ms pass; returns what came.
    std::string read_until(const std::string& end, int timeout_ms = 2000);
    // Everything that arrives within ms.
    std::string read_for(int ms);
    // `count` bytes, or fewer when timeout_ms pass first; then whatever else comes within
    // quiet_ms, so a reply longer than expected shows.
    std::string read_n(std::size_t count, int timeout_ms = 2000, int quiet_ms = 50);
    // Sends text + CR and reads the reply up to the prompt.
    std::string command(const std::string& text, int timeout_ms = 2000);

    // Host line settings: parity N, O, E, M or S.
    void set_line(int baud, char parity = 'N', int stop = 1, int data = 8);
    // Line break by TIOCSBRK, a pause, TIOCCBRK.
    void line_break(int hold_ms = 20);
    // Break string and banner.
    std::string wake();

    // SIGTERM and wait; the exit status as from waitpid (-1 when already stopped).
    int stop();

  private:
    std::string pty_;
    std::string log_;
    std::string dir_;
    int fd_ = -1;
    pid_t pid_ = -1;
    std::unique_ptr<hyd::sim::control> control_;
};

bool contains(const std::string& text, const std::string& part);

} // namespace hydsim_test
