#include "event_log.h"

namespace hydsim {

std::string format(const event& e) {
    return std::to_string(e.seq) + " " + std::to_string(e.time_us) + " " + e.kind +
           (e.detail.empty() ? "" : " " + e.detail);
}

event_log::~event_log() {
    if (file_) std::fclose(file_);
}

bool event_log::open(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    return file_ != nullptr;
}

void event_log::emit(std::int64_t time_us, std::string kind, std::string detail) {
    events_.push_back({next_seq(), time_us, std::move(kind), std::move(detail)});
}

void event_log::flush() {
    if (!file_) return;
    for (; written_ < events_.size(); ++written_)
        std::fprintf(file_, "%s\n", format(events_[written_]).c_str());
    std::fflush(file_);
}

const event* event_log::find(const std::string& kind, std::uint64_t from) const {
    for (std::size_t i = from ? from - 1 : 0; i < events_.size(); ++i)
        if (events_[i].kind == kind) return &events_[i];
    return nullptr;
}

} // namespace hydsim
