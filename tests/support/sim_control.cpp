#include "support/sim_control.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <sstream>
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
#define closesocket close
using SOCKET = int;
#endif

namespace hyd::sim {

namespace {

std::string address_from_environment() {
    const char* a = std::getenv("HYD_SIM_CONTROL");
    if (!a || !*a) throw std::runtime_error("HYD_SIM_CONTROL is not set: run under with-hydsim.sh");
    return a;
}

// %XX in values; bare hex for raw bytes.
std::string encode(const std::string& raw, bool hex = false) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : raw)
        if (!hex && c > 0x20 && c < 0x7F && c != '%')
            out += char(c);
        else
            out += (hex ? "" : "%") + std::string{digits[c >> 4], digits[c & 15]};
    return out;
}

std::string decode(const std::string& word) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (word[i] == '%' && i + 2 < word.size() && std::isxdigit(std::uint8_t(word[i + 1])) &&
            std::isxdigit(std::uint8_t(word[i + 2])))
            out += char(std::stoi(word.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            out += word[i];
    return out;
}

// "SEQ TIME_US KIND [DETAIL]"
std::optional<event> parse_event(const std::string& line) {
    std::istringstream in(line);
    event e;
    if (!(in >> e.seq >> e.time_us >> e.kind)) return std::nullopt;
    std::getline(in >> std::ws, e.detail);
    return e;
}

} // namespace

control::control() : control(address_from_environment()) {}

control::control(const std::string& address) {
#ifdef _WIN32
    static WSADATA data;
    [[maybe_unused]] static const int started = WSAStartup(MAKEWORD(2, 2), &data);
#endif
    const auto colon = address.rfind(':');
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<unsigned short>(std::atoi(address.c_str() + colon + 1)));
    if (colon == std::string::npos ||
        inet_pton(AF_INET, address.substr(0, colon).c_str(), &sa.sin_addr) != 1)
        throw std::runtime_error("bad simulator address " + address);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    socket_ = static_cast<std::intptr_t>(s);
    if (connect(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
        closesocket(s);
        throw std::runtime_error("cannot reach the simulator at " + address);
    }
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
}

control::~control() {
    closesocket(static_cast<SOCKET>(socket_));
}

std::string control::request(const std::string& line) {
    const std::string out = line + "\n";
    if (::send(static_cast<SOCKET>(socket_), out.data(), static_cast<int>(out.size()), 0) !=
        static_cast<int>(out.size()))
        throw std::runtime_error("cannot write to the simulator");
    return read_line();
}

std::string control::read_line() {
    for (std::size_t nl; (nl = buffer_.find('\n')) == std::string::npos;) {
        char chunk[4096];
        const int n = recv(static_cast<SOCKET>(socket_), chunk, sizeof chunk, 0);
        if (n <= 0) throw std::runtime_error("the simulator closed its control connection");
        buffer_.append(chunk, std::size_t(n));
    }
    const std::string answer = buffer_.substr(0, buffer_.find('\n'));
    buffer_.erase(0, answer.size() + 1);
    return answer;
}

std::string control::ok(const std::string& line, const std::string& answer) {
    if (answer != "ok" && answer.rfind("ok ", 0) != 0)
        throw std::runtime_error("simulator: " + line + ": " + answer);
    return answer.substr(std::min<std::size_t>(3, answer.size()));
}

void control::set(const std::string& key, const std::string& value) {
    ok("set " + key + "=" + encode(value));
}

std::string control::get(const std::string& key) {
    return decode(ok("get " + key));
}

std::map<std::string, std::string> control::state() {
    std::istringstream words(ok("state"));
    std::map<std::string, std::string> result;
    for (std::string w; words >> w;)
        if (const auto eq = w.find('='); eq != std::string::npos)
            result[w.substr(0, eq)] = decode(w.substr(eq + 1));
    return result;
}

std::uint64_t control::next_seq() {
    return std::stoull(ok("seq"));
}

std::optional<event> control::wait(const std::string& kind, int timeout_ms, std::uint64_t from) {
    const std::string line =
        "wait " + kind + " " + std::to_string(timeout_ms) + " " + std::to_string(from);
    const std::string answer = request(line);
    if (answer == "err timeout") return std::nullopt;
    return parse_event(ok(line, answer));
}

std::vector<event> control::events(std::uint64_t from) {
    std::vector<event> result;
    for (auto count = std::stoull(ok("events " + std::to_string(from))); count > 0; --count)
        if (auto e = parse_event(read_line())) result.push_back(*e);
    return result;
}

std::vector<std::uint8_t> control::bytes(const std::string& verb, std::uint64_t from) {
    const std::string hex = ok(verb + " " + std::to_string(from));
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(std::uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<std::uint8_t> control::received(std::uint64_t from) {
    return bytes("rx", from);
}
std::vector<std::uint8_t> control::sent(std::uint64_t from) {
    return bytes("tx", from);
}

void control::send(const std::vector<std::uint8_t>& bytes) {
    if (!bytes.empty()) ok("send " + encode(std::string(bytes.begin(), bytes.end()), true));
}

void control::hangup() {
    ok("hangup");
}

} // namespace hyd::sim
