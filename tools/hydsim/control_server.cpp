#include "control_server.h"

#include "sim_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace hydsim {

namespace {

bool parse_int(const std::string& text, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

std::string answer_for(const event& e) {
    return "ok " + format(e);
}

} // namespace

struct control_server::client {
    int fd = -1;
    std::string in;
    std::string out;
    bool waiting = false;
    std::string wait_kind;
    std::uint64_t wait_from = 0;
    std::int64_t wait_until_us = 0;

    void drop() {
        ::close(fd);
        fd = -1;
    }
};

control_server::control_server(dialogue& d, event_log& log, pty_line& pty, const sim_clock& clock)
    : d_(d), log_(log), pty_(pty), clock_(clock) {}

control_server::~control_server() {
    for (auto& c : clients_)
        if (c->fd >= 0) ::close(c->fd);
    if (listen_ >= 0) ::close(listen_);
}

bool control_server::listen(int port, std::string& error) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, 16) != 0) {
        error = std::string("cannot open the control socket: ") + std::strerror(errno);
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return true;
}

void control_server::poll_fds(std::vector<pollfd>& fds, std::int64_t& next_us) const {
    fds.push_back({listen_, POLLIN, 0});
    for (const auto& c : clients_) {
        fds.push_back({c->fd, short(POLLIN | (c->out.empty() ? 0 : POLLOUT)), 0});
        if (c->waiting) next_us = std::min(next_us, c->wait_until_us);
    }
}

void control_server::serve(const std::vector<pollfd>& fds, std::size_t first) {
    // Clients in order: a break report and the data before it stay in sequence.
    for (std::size_t i = 0; i < clients_.size() && first + 1 + i < fds.size(); ++i) {
        auto& c = *clients_[i];
        if (c.fd < 0) continue;
        if (fds[first + 1 + i].revents & (POLLIN | POLLHUP | POLLERR)) read_client(c);
        if (c.fd >= 0) process_lines(c);
    }
    if (fds[first].revents & POLLIN) {
        int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            clients_.push_back(std::make_unique<client>());
            clients_.back()->fd = fd;
        }
    }
}

void control_server::read_client(client& c) {
    char buf[4096];
    for (;;) {
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            c.in.append(buf, std::size_t(n));
            if (c.in.size() > (1u << 20)) return c.drop(); // no sane request is that long
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) c.drop();
        return;
    }
}

void control_server::process_lines(client& c) {
    while (c.fd >= 0 && !c.waiting) {
        auto nl = c.in.find('\n');
        if (nl == std::string::npos) break;
        std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        auto words = split_words(line);
        if (words.empty()) continue;
        std::string answer = handle(c, words);
        if (c.waiting) break;
        if (answer == "quit") {
            c.drop();
            break;
        }
        c.out += answer + "\n";
    }
    if (c.fd >= 0 && !c.out.empty()) {
        ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) c.out.erase(0, std::size_t(n));
    }
}

void control_server::check_waiters() {
    std::int64_t now = clock_.now_us();
    for (auto& c : clients_) {
        if (c->fd < 0 || !c->waiting) continue;
        std::string answer;
        if (const event* e = log_.find(c->wait_kind, c->wait_from))
            answer = answer_for(*e);
        else if (now >= c->wait_until_us)
            answer = "err timeout";
        else
            continue;
        c->waiting = false;
        c->out += answer + "\n";
        process_lines(*c);
    }
    std::erase_if(clients_, [](const auto& c) { return c->fd < 0; });
}

std::string control_server::set(const std::vector<std::string>& w) {
    if (w.size() < 2) return "err set needs key=value";
    for (std::size_t i = 1; i < w.size(); ++i) {
        auto eq = w[i].find('=');
        std::string key = w[i].substr(0, eq);
        std::string value = eq == std::string::npos ? "1" : decode_value(w[i].substr(eq + 1));
        if (auto why = set_option(d_.opts(), key, value)) return "err " + *why;
        std::replace(key.begin(), key.end(), '-', '_');
        log_.emit(clock_.now_us(), "option", key + "=" + encode_value(value));
    }
    return "ok";
}

std::string control_server::host_report(const std::vector<std::string>& w) {
    // Reports of the preload library from the process under test. Bytes the host wrote before
    // the call are taken first, so the log keeps the line's order.
    pty_.read(d_, clock_);
    pty_.show_line(d_);
    std::int64_t now = clock_.now_us();
    long n = 0, stop = 0, data = 0;
    if (w.size() == 3 && w[1] == "break" && w[2] == "on") {
        d_.break_on(now);
    } else if (w.size() == 3 && w[1] == "break" && w[2] == "off") {
        d_.break_off(now);
    } else if (w.size() == 3 && w[1] == "pulse" && parse_int(w[2], n)) {
        d_.break_pulse(int(n), now);
    } else if (w.size() == 6 && w[1] == "line" && parse_int(w[2], n) && w[3].size() == 1 &&
               parse_int(w[4], stop) && parse_int(w[5], data)) {
        d_.host_line({int(n), w[3][0], int(stop), int(data)}, now);
    } else if (w.size() == 3 && w[1] == "purge") {
        d_.purge(w[2], now);
    } else {
        return "err unknown host report";
    }
    return "ok";
}

std::string control_server::handle(client& c, const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    auto from_arg = [&](std::size_t i) -> std::uint64_t {
        long n = 0;
        return i < w.size() && parse_int(w[i], n) && n > 0 ? std::uint64_t(n) : 0;
    };
    if (verb == "set") return set(w);
    if (verb == "get") {
        if (w.size() != 2) return "err get needs a key";
        auto v = get_option(d_.opts(), w[1]);
        if (!v) {
            std::string k = w[1];
            std::replace(k.begin(), k.end(), '-', '_');
            return "err unknown option " + k;
        }
        return "ok " + encode_value(*v);
    }
    if (verb == "state")
        return "ok " + d_.state() + " pty=" + encode_value(pty_.path()) +
               " pid=" + std::to_string(getpid());
    if (verb == "seq") return "ok " + std::to_string(log_.next_seq());
    if (verb == "wait") {
        long timeout = 0;
        if (w.size() < 3 || !parse_int(w[2], timeout) || timeout < 0)
            return "err wait KIND TIMEOUT_MS [FROM_SEQ]";
        std::uint64_t from = from_arg(3);
        if (const event* e = log_.find(w[1], from)) return answer_for(*e);
        c.waiting = true;
        c.wait_kind = w[1];
        c.wait_from = from;
        c.wait_until_us = clock_.now_us() + std::int64_t(timeout) * 1000;
        return {};
    }
    if (verb == "events") {
        const auto& all = log_.events();
        std::uint64_t from = from_arg(1);
        std::string lines;
        std::size_t count = 0;
        for (std::size_t i = from ? from - 1 : 0; i < all.size(); ++i, ++count)
            lines += "\n" + format(all[i]);
        return "ok " + std::to_string(count) + lines;
    }
    if (verb == "rx" || verb == "tx") {
        const auto& all = log_.events();
        std::string hex;
        for (std::size_t i = from_arg(1) ? from_arg(1) - 1 : 0; i < all.size(); ++i)
            if (all[i].kind == verb) hex += all[i].detail;
        return "ok " + hex;
    }
    if (verb == "send") {
        std::vector<std::uint8_t> bytes;
        if (w.size() != 2 || !from_hex(w[1], bytes)) return "err send needs hex bytes";
        d_.send_raw(std::string(bytes.begin(), bytes.end()), clock_.now_us());
        return "ok";
    }
    if (verb == "hangup") {
        d_.hang_up(clock_.now_us());
        pty_.close();
        return "ok";
    }
    if (verb == "quit") return "quit";
    if (verb == "host") return host_report(w);
    return "err unknown request " + encode_value(verb);
}

} // namespace hydsim
