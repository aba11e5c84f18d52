#include "support/sim_control.h"

#include <cstdlib>
#include <stdexcept>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace hyd::sim {

namespace {

#ifdef _WIN32
using native_socket = SOCKET;
const native_socket no_socket = INVALID_SOCKET;
void close_socket(native_socket s) {
    closesocket(s);
}

struct winsock {
    winsock() {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~winsock() { WSACleanup(); }
};
void start_sockets() {
    static winsock once;
}
#else
using native_socket = int;
const native_socket no_socket = -1;
void close_socket(native_socket s) {
    close(s);
}
void start_sockets() {}
#endif

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string address_from_environment() {
    const char* a = std::getenv("HYD_SIM_CONTROL");
    if (!a || !*a) throw std::runtime_error("HYD_SIM_CONTROL is not set: run under with-hydsim.sh");
    return a;
}

std::vector<std::string> words_of(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

} // namespace

std::string encode(const std::string& raw) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw) {
        if (c <= 0x20 || c >= 0x7F || c == '%') {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 15];
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string decode(const std::string& word) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 2 < word.size() && nibble(word[i + 1]) >= 0 &&
            nibble(word[i + 2]) >= 0) {
            out += char(nibble(word[i + 1]) * 16 + nibble(word[i + 2]));
            i += 2;
        } else {
            out += word[i];
        }
    }
    return out;
}

std::optional<event> parse_event(const std::string& line) {
    auto w = words_of(line);
    if (w.size() < 3) return std::nullopt;
    event e;
    char* end = nullptr;
    e.seq = std::strtoull(w[0].c_str(), &end, 10);
    if (!end || *end) return std::nullopt;
    e.time_us = std::strtoll(w[1].c_str(), &end, 10);
    if (!end || *end) return std::nullopt;
    e.kind = w[2];
    for (std::size_t i = 3; i < w.size(); ++i) e.detail += (i > 3 ? " " : "") + w[i];
    return e;
}

control::control() : control(address_from_environment()) {}

control::control(const std::string& address) {
    start_sockets();
    auto colon = address.rfind(':');
    if (colon == std::string::npos) throw std::runtime_error("bad simulator address " + address);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<unsigned short>(std::atoi(address.c_str() + colon + 1)));
    if (inet_pton(AF_INET, address.substr(0, colon).c_str(), &sa.sin_addr) != 1)
        throw std::runtime_error("bad simulator address " + address);
    native_socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == no_socket) throw std::runtime_error("no socket for the simulator");
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        close_socket(s);
        throw std::runtime_error("cannot reach the simulator at " + address);
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    socket_ = static_cast<std::intptr_t>(s);
}

control::~control() {
    if (socket_ != -1) close_socket(static_cast<native_socket>(socket_));
}

std::string control::read_line() {
    for (;;) {
        auto nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        char chunk[4096];
        int n = recv(static_cast<native_socket>(socket_), chunk, sizeof chunk, 0);
        if (n <= 0) throw std::runtime_error("the simulator closed its control connection");
        buffer_.append(chunk, std::size_t(n));
    }
}

std::string control::request(const std::string& line) {
    std::string out = line + "\n";
    std::size_t done = 0;
    while (done < out.size()) {
        int n = ::send(static_cast<native_socket>(socket_), out.data() + done,
                       static_cast<int>(out.size() - done), 0);
        if (n <= 0) throw std::runtime_error("cannot write to the simulator");
        done += std::size_t(n);
    }
    return read_line();
}

void control::set(const std::string& key, const std::string& value) {
    auto answer = request("set " + key + "=" + encode(value));
    if (answer != "ok") throw std::runtime_error("simulator refused " + key + ": " + answer);
}

std::string control::get(const std::string& key) {
    auto answer = request("get " + key);
    if (answer.rfind("ok ", 0) != 0) throw std::runtime_error("simulator: " + answer);
    return decode(answer.substr(3));
}

std::map<std::string, std::string> control::state() {
    auto answer = request("state");
    if (answer.rfind("ok ", 0) != 0) throw std::runtime_error("simulator: " + answer);
    std::map<std::string, std::string> result;
    for (const auto& w : words_of(answer.substr(3))) {
        auto eq = w.find('=');
        if (eq != std::string::npos) result[w.substr(0, eq)] = decode(w.substr(eq + 1));
    }
    return result;
}

std::uint64_t control::next_seq() {
    auto answer = request("seq");
    if (answer.rfind("ok ", 0) != 0) throw std::runtime_error("simulator: " + answer);
    return std::strtoull(answer.c_str() + 3, nullptr, 10);
}

std::optional<event> control::wait(const std::string& kind, int timeout_ms, std::uint64_t from) {
    auto answer =
        request("wait " + kind + " " + std::to_string(timeout_ms) + " " + std::to_string(from));
    if (answer == "err timeout") return std::nullopt;
    if (answer.rfind("ok ", 0) != 0) throw std::runtime_error("simulator: " + answer);
    return parse_event(answer.substr(3));
}

std::vector<event> control::events(std::uint64_t from) {
    auto answer = request("events " + std::to_string(from));
    if (answer.rfind("ok ", 0) != 0) throw std::runtime_error("simulator: " + answer);
    std::size_t count = std::strtoull(answer.c_str() + 3, nullptr, 10);
    std::vector<event> result;
    for (std::size_t i = 0; i < count; ++i) {
        auto e = parse_event(read_line());
        if (e) result.push_back(*e);
    }
    return result;
}

std::vector<std::uint8_t> control::hex_request(const std::string& verb, std::uint64_t from) {
    auto answer = request(verb + " " + std::to_string(from));
    if (answer.rfind("ok", 0) != 0) throw std::runtime_error("simulator: " + answer);
    std::string hex = answer.size() > 3 ? answer.substr(3) : std::string();
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(nibble(hex[i]) * 16 + nibble(hex[i + 1])));
    return bytes;
}

std::vector<std::uint8_t> control::received(std::uint64_t from) {
    return hex_request("rx", from);
}
std::vector<std::uint8_t> control::sent(std::uint64_t from) {
    return hex_request("tx", from);
}

void control::send(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (auto b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    if (hex.empty()) return;
    auto answer = request("send " + hex);
    if (answer != "ok") throw std::runtime_error("simulator: " + answer);
}

void control::hangup() {
    auto answer = request("hangup");
    if (answer != "ok") throw std::runtime_error("simulator: " + answer);
}

} // namespace hyd::sim
