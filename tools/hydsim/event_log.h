// The simulator's event log: numbered, time-stamped events kept in memory for the control socket
// (`wait`, `events`, `rx`, `tx`) and appended to the log file as they come.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace hydsim {

struct event {
    std::uint64_t seq = 0;
    std::int64_t time_us = 0;
    std::string kind;
    std::string detail;
};

// "SEQ TIME_US KIND [DETAIL]"
std::string format(const event& e);

class event_log {
  public:
    event_log() = default;
    ~event_log();
    event_log(const event_log&) = delete;
    event_log& operator=(const event_log&) = delete;

    // Opens (truncates) the log file; false when it cannot be written.
    bool open(const std::string& path);
    void emit(std::int64_t time_us, std::string kind, std::string detail = {});
    // Writes the events not yet in the file.
    void flush();

    const std::vector<event>& events() const { return events_; }
    std::uint64_t next_seq() const { return events_.size() + 1; }
    // The first event of `kind` with seq >= from, or null.
    const event* find(const std::string& kind, std::uint64_t from) const;

  private:
    std::vector<event> events_;
    std::size_t written_ = 0;
    std::FILE* file_ = nullptr;
};

} // namespace hydsim
