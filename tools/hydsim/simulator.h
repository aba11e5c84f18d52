// The simulated instrument: a pseudo-terminal whose master side answers like the profiler does
// (wake-up banner, echo, prompt, the commands the library sends, ping cycles), a control socket
// for tests, and an event log. One thread, one poll loop.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace hydsim {

struct line_settings {
    int baud = 9600;
    char parity = 'N'; // N, O, E, M, S
    int stop = 1;      // 1 or 2
    int data = 8;
};

std::string describe(const line_settings& s);

struct event {
    std::uint64_t seq = 0;
    std::int64_t time_us = 0;
    std::string kind;
    std::string detail;
};

class simulator {
  public:
    simulator();
    ~simulator();
    simulator(const simulator&) = delete;
    simulator& operator=(const simulator&) = delete;

    // Applies one option ("key=value" or a bare flag name); false with a reason when refused.
    bool set_option(const std::string& key, const std::string& value, std::string& why);
    void set_log(const std::string& path) { log_path_ = path; }
    void set_control_port(int port) { control_port_ = port; }

    // Opens the pty and the control socket; prints the slave path, "control HOST:PORT" and
    // "log PATH" on stdout. False with a message on stderr when that fails.
    bool start();
    // Runs until SIGTERM or SIGINT.
    int run();

  private:
    struct client;
    struct waiter {
        std::string kind;
        std::uint64_t from = 0;
        std::int64_t deadline_us = 0;
    };
    struct client {
        int fd = -1;
        std::string in;
        std::string out;
        bool waiting = false;
        waiter wait;
    };
    struct out_byte {
        std::int64_t due_us;
        std::uint8_t value;
        bool echo;
    };

    std::int64_t now_us() const;
    void emit(const std::string& kind, const std::string& detail = {});
    void flush_log();

    // Line side.
    void read_master();
    void receive(const std::uint8_t* data, std::size_t size);
    void receive_byte(std::uint8_t b);
    bool understands() const;
    void refresh_host_from_pty();
    void queue(const std::string& bytes, std::int64_t delay_us = 0, bool raw = false,
               bool echo = false);
    void write_due();
    void wake_up(const std::string& cause);
    void execute(const std::string& command, bool checksum_mode);
    void reply(const std::string& command, const std::string& body, bool checksum_mode,
               bool prompt = true);
    void start_pinging();
    void ping_due();
    void hang_up();

    // Control side.
    void accept_client();
    void read_client(client& c);
    void process_lines(client& c);
    std::string handle(client& c, const std::vector<std::string>& words);
    void check_waiters();
    bool match(const waiter& w, std::string& answer) const;
    std::string state_line() const;
    std::string option_value(const std::string& key) const;

    std::map<std::string, std::string> options_;
    std::string log_path_;
    int control_port_ = 0;

    int master_ = -1;
    int slave_ = -1;
    std::string slave_path_;
    int listen_ = -1;
    int signal_fd_ = -1;
    std::vector<std::unique_ptr<client>> clients_;

    std::int64_t start_us_ = 0;
    std::vector<event> events_;
    std::size_t logged_ = 0;
    std::FILE* log_ = nullptr;

    line_settings instrument_;
    line_settings host_;
    bool host_reported_ = false;

    // Dialogue state.
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
    std::string cf_ = "11110";
    std::map<std::string, std::string> parameters_;

    bool pinging_ = false;
    int pings_left_ = 0;
    std::int64_t next_ping_us_ = 0;
    std::uint32_t ensemble_number_ = 0;

    std::deque<out_byte> out_;
    std::vector<std::uint8_t> pending_; // due, faults applied, not yet taken by the pty
    std::int64_t next_slot_us_ = 0;     // earliest time for the next queued byte
    std::uint64_t sent_count_ = 0;
    std::vector<std::uint8_t> rx_all_;
};

} // namespace hydsim
