// The control socket (TCP on 127.0.0.1): one request per line, one answer line per request, in
// order per connection; `wait` holds its connection's answers until the event comes or time runs
// out. The protocol is in README.md.
#pragma once

#include "transport.h"

#include <memory>
#include <poll.h>
#include <string>
#include <vector>

namespace hydsim {

class control_server {
  public:
    control_server(dialogue& d, event_log& log, pty_line& pty, const sim_clock& clock);
    ~control_server();
    control_server(const control_server&) = delete;
    control_server& operator=(const control_server&) = delete;

    // Listens on 127.0.0.1:port (0: any free port); false with the reason on failure.
    bool listen(int port, std::string& error);
    int port() const { return port_; }

    // Appends the listening socket and the clients to fds; lowers `next_us` to the end of the
    // nearest wait.
    void poll_fds(std::vector<pollfd>& fds, std::int64_t& next_us) const;
    // Serves what poll found in the entries poll_fds appended, from fds[first] on.
    void serve(const std::vector<pollfd>& fds, std::size_t first);
    // Answers the waits whose event came or whose time ran out.
    void check_waiters();

  private:
    struct client;
    void read_client(client& c);
    void process_lines(client& c);
    std::string handle(client& c, const std::vector<std::string>& words);
    std::string host_report(const std::vector<std::string>& words);
    std::string set(const std::vector<std::string>& words);

    dialogue& d_;
    event_log& log_;
    pty_line& pty_;
    const sim_clock& clock_;
    int listen_ = -1;
    int port_ = 0;
    std::vector<std::unique_ptr<client>> clients_;
};

} // namespace hydsim
