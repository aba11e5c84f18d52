#include "simulator.h"

#include "ensemble/ensemble_builder.h"
#include "sim_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace hydsim {

namespace {

// Baud table of the CB command, position = digit.
const int cb_bauds[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
// Parity digit 1..5.
const char cb_parities[] = {'N', 'E', 'O', 'M', 'S'};

const std::map<std::string, std::string> default_options = {
    {"silence", "0"},            // send nothing at all
    {"delay_ms", "0"},           // pause before every reply, banner and ping output
    {"byte_delay_ms", "0"},      // gap between consecutive output bytes
    {"drop", "0"},               // drop every Nth output byte
    {"garble", "0"},             // flip bits of every Nth output byte
    {"no_banner_id", "0"},       // banner without the identification fragment
    {"ignore_breaks", "0"},      // line breaks and the break string do nothing
    {"break_min_ms", "0"},       // shorter line breaks are ignored
    {"no_echo", "0"},            // text mode without echo
    {"checksum", "0"},           // the banner switches the host to checksum mode
    {"ck_reply", "ack"},         // checksum-mode replies: ack (0x06 first) or echo (command first)
    {"ping_output", "ensemble"}, // ensemble, text or none
    {"ping_count", "1"},         // outputs per cs before the prompt; 0 = until a break
    {"ping_interval_ms", "20"},
    {"ping_text", "Ensemble %n"},
    {"ping_cells", "30"},
    {"ax_fail", "0"},        // AX reply without the total-error line
    {"reject", ""},          // comma-separated command prefixes answered with an error
    {"mismatch", "garbage"}, // what a host at other line settings receives: garbage or silent
};

bool parse_int(const std::string& text, long& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

int baud_of(speed_t s) {
    switch (s) {
    case B50:
        return 50;
    case B75:
        return 75;
    case B110:
        return 110;
    case B134:
        return 134;
    case B150:
        return 150;
    case B200:
        return 200;
    case B300:
        return 300;
    case B600:
        return 600;
    case B1200:
        return 1200;
    case B1800:
        return 1800;
    case B2400:
        return 2400;
    case B4800:
        return 4800;
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    case B230400:
        return 230400;
    case B460800:
        return 460800;
    case B921600:
        return 921600;
    default:
        return 0;
    }
}

speed_t speed_of(int baud) {
    switch (baud) {
    case 300:
        return B300;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B9600;
    }
}

bool valid_baud(long b) {
    return std::find(std::begin(cb_bauds), std::end(cb_bauds), b) != std::end(cb_bauds);
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string canonical_key(std::string key) {
    std::replace(key.begin(), key.end(), '-', '_');
    return key;
}

} // namespace

std::string describe(const line_settings& s) {
    return std::to_string(s.baud) + " " + s.parity + " " + std::to_string(s.stop) + " " +
           std::to_string(s.data);
}

simulator::simulator() : options_(default_options) {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    start_us_ = std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

simulator::~simulator() {
    for (auto& c : clients_) close(c->fd);
    if (listen_ >= 0) close(listen_);
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    if (signal_fd_ >= 0) close(signal_fd_);
    if (log_) std::fclose(log_);
}

std::int64_t simulator::now_us() const {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000 - start_us_;
}

bool simulator::set_option(const std::string& raw_key, const std::string& value, std::string& why) {
    std::string key = canonical_key(raw_key);
    long n = 0;
    if (key == "baud") {
        if (!parse_int(value, n) || !valid_baud(n)) return why = "baud not in the table", false;
        instrument_.baud = int(n);
        return true;
    }
    if (key == "parity") {
        std::string v = upper(value);
        if (v.size() != 1 || std::string("NOEMS").find(v[0]) == std::string::npos)
            return why = "parity is one of N O E M S", false;
        instrument_.parity = v[0];
        return true;
    }
    if (key == "stop") {
        if (!parse_int(value, n) || (n != 1 && n != 2)) return why = "stop is 1 or 2", false;
        instrument_.stop = int(n);
        return true;
    }
    if (key == "cf") {
        if (value.size() != 5 || value.find_first_not_of("01") != std::string::npos)
            return why = "cf is five binary digits", false;
        cf_ = value;
        return true;
    }
    auto it = options_.find(key);
    if (it == options_.end()) return why = "unknown option " + key, false;
    const std::string& def = default_options.at(key);
    bool numeric = !def.empty() && def.find_first_not_of("0123456789") == std::string::npos;
    if (numeric && (!parse_int(value, n) || n < 0)) return why = key + " takes a number", false;
    if (key == "ck_reply" && value != "ack" && value != "echo")
        return why = "ck_reply is ack or echo", false;
    if (key == "mismatch" && value != "garbage" && value != "silent")
        return why = "mismatch is garbage or silent", false;
    if (key == "ping_output" && value != "ensemble" && value != "text" && value != "none")
        return why = "ping_output is ensemble, text or none", false;
    if (key == "ping_cells" && (n < 1 || n > 128)) return why = "ping_cells is 1 to 128", false;
    it->second = value;
    if (master_ >= 0 || hung_up_) emit("option", key + "=" + encode_value(value));
    return true;
}

std::string simulator::option_value(const std::string& key) const {
    auto k = canonical_key(key);
    if (k == "baud") return std::to_string(instrument_.baud);
    if (k == "parity") return std::string(1, instrument_.parity);
    if (k == "stop") return std::to_string(instrument_.stop);
    if (k == "cf") return cf_;
    auto it = options_.find(k);
    return it == options_.end() ? std::string() : it->second;
}

bool simulator::start() {
    if (!log_path_.empty()) {
        log_ = std::fopen(log_path_.c_str(), "w");
        if (!log_) {
            std::fprintf(stderr, "hydsim: cannot write the log %s: %s\n", log_path_.c_str(),
                         std::strerror(errno));
            return false;
        }
    }
    char name[256] = {};
    if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "hydsim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return false;
    }
    slave_path_ = name;
    // The slave stays open and raw: the host's settings then land on a quiet line, and reads on
    // the master keep working after the host closes its side.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, speed_of(instrument_.baud));
    cfsetospeed(&t, speed_of(instrument_.baud));
    if (instrument_.stop == 2) t.c_cflag |= CSTOPB;
    tcsetattr(slave_, TCSANOW, &t);
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fcntl(master_, F_SETFD, FD_CLOEXEC);
    fcntl(slave_, F_SETFD, FD_CLOEXEC);
    host_ = instrument_;

    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(control_port_));
    if (listen_ < 0 || bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_, 16) != 0) {
        std::fprintf(stderr, "hydsim: cannot open the control socket: %s\n", std::strerror(errno));
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len);

    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    signal_fd_ = signalfd(-1, &mask, SFD_CLOEXEC);
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);

    std::printf("%s\ncontrol 127.0.0.1:%u\nlog %s\n", slave_path_.c_str(),
                unsigned(ntohs(addr.sin_port)), log_path_.empty() ? "-" : log_path_.c_str());
    std::fflush(stdout);
    emit("start", slave_path_ + " " + describe(instrument_));
    return true;
}

void simulator::emit(const std::string& kind, const std::string& detail) {
    event e;
    e.seq = events_.size() + 1;
    e.time_us = now_us();
    e.kind = kind;
    e.detail = detail;
    events_.push_back(std::move(e));
}

void simulator::flush_log() {
    if (!log_) return;
    for (; logged_ < events_.size(); ++logged_) {
        const auto& e = events_[logged_];
        std::fprintf(log_, "%llu %lld %s%s%s\n", static_cast<unsigned long long>(e.seq),
                     static_cast<long long>(e.time_us), e.kind.c_str(), e.detail.empty() ? "" : " ",
                     e.detail.c_str());
    }
    std::fflush(log_);
}

// ---- line side -------------------------------------------------------------------------------

void simulator::refresh_host_from_pty() {
    if (slave_ < 0) return;
    termios t{};
    if (tcgetattr(slave_, &t) != 0) return;
    int b = baud_of(cfgetospeed(&t));
    if (b) host_.baud = b;
    host_.stop = (t.c_cflag & CSTOPB) ? 2 : 1;
}

bool simulator::understands() const {
    return host_.baud == instrument_.baud && host_.parity == instrument_.parity &&
           host_.data == instrument_.data;
}

void simulator::read_master() {
    if (master_ < 0) return;
    std::uint8_t buf[4096];
    for (;;) {
        ssize_t n = read(master_, buf, sizeof buf);
        if (n > 0) {
            receive(buf, std::size_t(n));
            continue;
        }
        break; // EAGAIN, or EIO while no slave is open (ours always is)
    }
}

void simulator::receive(const std::uint8_t* data, std::size_t size) {
    refresh_host_from_pty();
    emit("rx", to_hex(data, size));
    rx_all_.insert(rx_all_.end(), data, data + size);
    for (std::size_t i = 0; i < size; ++i) receive_byte(data[i]);
}

void simulator::receive_byte(std::uint8_t b) {
    if (!understands()) {
        // At other line settings the bytes arrive mangled: no command, no break string.
        equals_run_ = 0;
        if (!asleep_ && !pinging_ && option_value("no_echo") == "0")
            queue(std::string(1, char(b)), 0);
        return;
    }
    equals_run_ = b == '=' ? equals_run_ + 1 : 0;
    bool break_string = equals_run_ >= 7 && option_value("ignore_breaks") == "0";
    if (asleep_ || pinging_) {
        if (break_string) wake_up("string");
        return;
    }
    if (checksum_mode_) {
        if (sum_bytes_ >= 0) {
            sum_got_ = static_cast<std::uint16_t>((sum_got_ << 8) | b);
            if (++sum_bytes_ == 2) {
                std::uint16_t sum = 0x0D;
                for (unsigned char c : line_) sum = static_cast<std::uint16_t>(sum + c);
                std::string command = line_;
                line_.clear();
                sum_bytes_ = -1;
                if (sum == sum_got_) {
                    execute(command, true);
                } else {
                    last_command_ = command;
                    emit("checksum_bad", encode_value(command) +
                                             " got=" + std::to_string(sum_got_) +
                                             " want=" + std::to_string(sum));
                    queue("\x15\r\nERR checksum\r\n>",
                          std::int64_t(std::stol(option_value("delay_ms"))) * 1000);
                }
            }
            return;
        }
        if (break_string) {
            wake_up("string");
            return;
        }
        if (b == '\r') {
            sum_bytes_ = 0;
            sum_got_ = 0;
        } else if (line_.size() < 512) {
            line_ += char(b);
        }
        return;
    }
    if (option_value("no_echo") == "0") queue(std::string(1, char(b)), 0, false, true);
    if (break_string) {
        wake_up("string");
        return;
    }
    if (b == '\r') {
        std::string command = line_;
        line_.clear();
        execute(command, false);
    } else if (b != '\n' && line_.size() < 512) {
        line_ += char(b);
    }
}

void simulator::queue(const std::string& bytes, std::int64_t delay_us, bool raw, bool echo) {
    if (hung_up_ || master_ < 0) return;
    std::string data = bytes;
    if (!raw) {
        if (option_value("silence") != "0") return;
        if (!understands()) {
            if (option_value("mismatch") == "silent") return;
            // What a receiver at another baud rate or parity makes of the bytes: noise with the
            // top bit set, never a carriage return, line feed or prompt.
            for (auto& c : data)
                c = char(0x80 | ((std::uint8_t(c) * 13 + host_.baud / 300 +
                                  instrument_.baud / 1200 + host_.parity) &
                                 0x7F));
        }
    }
    std::int64_t gap = std::int64_t(std::stol(option_value("byte_delay_ms"))) * 1000;
    std::int64_t t = std::max(now_us() + delay_us, next_slot_us_);
    for (unsigned char c : data) {
        out_.push_back({t, c, echo});
        t += gap;
    }
    next_slot_us_ = t;
}

void simulator::write_due() {
    if (master_ < 0) return;
    std::int64_t now = now_us();
    long drop = std::stol(option_value("drop"));
    long garble = std::stol(option_value("garble"));
    while (!out_.empty() && out_.front().due_us <= now) {
        std::uint8_t c = out_.front().value;
        out_.pop_front();
        ++sent_count_;
        if (drop && sent_count_ % drop == 0) continue;
        if (garble && sent_count_ % garble == 0) c ^= 0x5A;
        pending_.push_back(c);
    }
    std::size_t written = 0;
    while (written < pending_.size()) {
        ssize_t n = write(master_, pending_.data() + written, pending_.size() - written);
        if (n <= 0) break; // the host is not reading: the rest waits for room
        written += std::size_t(n);
    }
    if (written) {
        emit("tx", to_hex(pending_.data(), written));
        pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(written));
    }
}

void simulator::wake_up(const std::string& cause) {
    // Whatever was still to go out is abandoned, except the echo of what the host typed.
    std::erase_if(out_, [](const out_byte& o) { return !o.echo; });
    pending_.clear();
    next_slot_us_ =
        out_.empty()
            ? 0
            : out_.back().due_us + std::int64_t(std::stol(option_value("byte_delay_ms"))) * 1000;
    pinging_ = false;
    asleep_ = false;
    line_.clear();
    sum_bytes_ = -1;
    equals_run_ = 0;
    bool understood = understands();
    checksum_mode_ = understood && option_value("checksum") != "0";
    ++wakeups_;
    emit("wakeup", cause + (understood ? "" : " not-understood"));
    std::string banner = "\r\n";
    banner += option_value("no_banner_id") != "0" ? "HX ?" : "HY I";
    banner += " simulated profiler\r\nfirmware 51.40 (test bench)";
    if (checksum_mode_) banner += '\x06';
    banner += "\r\n>";
    queue(banner, std::int64_t(std::stol(option_value("delay_ms"))) * 1000);
}

void simulator::reply(const std::string& command, const std::string& body, bool checksum_mode,
                      bool prompt) {
    std::string text;
    if (!checksum_mode) {
        text = "\n";
    } else if (option_value("ck_reply") == "ack") {
        text = "\x06\r\n";
    } else {
        // The command comes back ahead of the reply, and the host leaves checksum mode with it.
        text = command + "\r\n";
        checksum_mode_ = false;
    }
    if (!body.empty()) text += body + "\r\n";
    if (prompt) text += ">";
    queue(text, std::int64_t(std::stol(option_value("delay_ms"))) * 1000);
}

void simulator::execute(const std::string& command, bool checksum_mode) {
    last_command_ = command;
    emit("command", encode_value(command));
    std::string up = upper(command);
    std::string head = up.substr(0, 2);
    auto refuse = [&](const std::string& why) {
        emit("refused", encode_value(command) + " " + encode_value(why));
        reply(command, "ERR " + why, checksum_mode);
    };

    if (command.empty()) return reply(command, "", checksum_mode);
    std::string reject = option_value("reject");
    for (std::size_t pos = 0; pos <= reject.size();) {
        std::size_t end = reject.find(',', pos);
        if (end == std::string::npos) end = reject.size();
        std::string prefix = upper(reject.substr(pos, end - pos));
        if (!prefix.empty() && up.rfind(prefix, 0) == 0) return refuse("command rejected");
        pos = end + 1;
    }

    if (up == "CF?") return reply(command, "CF = " + cf_ + " ----- flow control", checksum_mode);
    if (head == "CF") {
        std::string v = command.substr(2);
        if (v.size() != 5 || v.find_first_not_of("01") != std::string::npos)
            return refuse("bad CF value");
        cf_ = v;
        return reply(command, "", checksum_mode);
    }
    if (up == "CB?") {
        int b = int(std::find(std::begin(cb_bauds), std::end(cb_bauds), instrument_.baud) -
                    std::begin(cb_bauds));
        int p = int(std::string(cb_parities, 5).find(instrument_.parity)) + 1;
        std::string digits =
            std::to_string(b) + std::to_string(p) + std::to_string(instrument_.stop);
        return reply(command, "CB = " + digits + " ----- serial port (baud, parity, stop bits)",
                     checksum_mode);
    }
    if (head == "CB") {
        std::string v = command.substr(2);
        if (v.size() != 3 || v[0] < '0' || v[0] > '8' || v[1] < '1' || v[1] > '5' || v[2] < '1' ||
            v[2] > '2')
            return refuse("bad CB value");
        reply(command, "", checksum_mode);
        instrument_.baud = cb_bauds[v[0] - '0'];
        instrument_.parity = cb_parities[v[1] - '1'];
        instrument_.stop = v[2] - '0';
        emit("settings", describe(instrument_));
        return;
    }
    if (up == "CK") return reply(command, "[Parameters saved as user defaults]", checksum_mode);
    if (up == "CS") {
        reply(command, "", checksum_mode, false);
        start_pinging();
        return;
    }
    if (up == "CZ") {
        reply(command, "[POWERING DOWN .....]", checksum_mode, false);
        asleep_ = true;
        emit("sleep");
        return;
    }
    if (up == "AX") {
        // Indented: a line starting with '>' would end the host's reply at the CR LF before it.
        std::string body = "Alignment test, 4 beams\r\n";
        body += option_value("ax_fail") != "0" ? "  No result: signal too weak"
                                               : "  >>> Total error: 0.42 deg <<<";
        return reply(command, body, checksum_mode);
    }
    if (head == "RN" && (command.size() == 2 || command[2] == ' ')) {
        std::string n = command.size() > 3 ? command.substr(3) : std::string();
        if (n.empty() || n.size() > 32) return refuse("bad name");
        name_ = n;
        return reply(command, "", checksum_mode);
    }
    // Any other two-letter command sets or queries a parameter.
    bool letters = command.size() >= 2 && std::isalpha(static_cast<unsigned char>(command[0])) &&
                   std::isalpha(static_cast<unsigned char>(command[1]));
    bool printable =
        std::all_of(command.begin(), command.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (!letters || !printable) return refuse("unknown command");
    std::string value = command.substr(2);
    if (value == "?") {
        auto it = parameters_.find(head);
        return reply(command, head + " = " + (it == parameters_.end() ? "0" : it->second),
                     checksum_mode);
    }
    parameters_[head] = value;
    reply(command, "", checksum_mode);
}

void simulator::start_pinging() {
    pinging_ = true;
    pings_left_ = int(std::stol(option_value("ping_count")));
    next_ping_us_ = now_us() + std::int64_t(std::stol(option_value("ping_interval_ms"))) * 1000;
    emit("pinging", std::to_string(pings_left_));
}

void simulator::ping_due() {
    if (!pinging_ || now_us() < next_ping_us_) return;
    ++ensemble_number_;
    std::string kind = option_value("ping_output");
    if (kind == "ensemble") {
        auto e = hyd::build::sample_ensemble(ensemble_number_,
                                             std::uint8_t(std::stol(option_value("ping_cells"))),
                                             true, ensemble_number_);
        queue(std::string(e.begin(), e.end()));
    } else if (kind == "text") {
        std::string t = option_value("ping_text");
        for (std::size_t p; (p = t.find("%n")) != std::string::npos;)
            t.replace(p, 2, std::to_string(ensemble_number_));
        queue(t);
    }
    emit("ping", std::to_string(ensemble_number_));
    if (pings_left_ > 0 && --pings_left_ == 0) {
        pinging_ = false;
        queue("\r\n>");
        return;
    }
    next_ping_us_ += std::int64_t(std::stol(option_value("ping_interval_ms"))) * 1000;
}

void simulator::hang_up() {
    if (hung_up_) return;
    hung_up_ = true;
    out_.clear();
    pending_.clear();
    pinging_ = false;
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    master_ = slave_ = -1;
    emit("hangup");
}

// ---- control side ----------------------------------------------------------------------------

void simulator::accept_client() {
    int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<client>();
    c->fd = fd;
    clients_.push_back(std::move(c));
}

void simulator::read_client(client& c) {
    char buf[4096];
    for (;;) {
        ssize_t n = recv(c.fd, buf, sizeof buf, 0);
        if (n > 0) {
            c.in.append(buf, std::size_t(n));
            if (c.in.size() > (1u << 20)) { // no sane request is that long
                close(c.fd);
                c.fd = -1;
                return;
            }
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            close(c.fd);
            c.fd = -1;
        }
        return;
    }
}

void simulator::process_lines(client& c) {
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
            close(c.fd);
            c.fd = -1;
            break;
        }
        c.out += answer + "\n";
    }
    if (c.fd >= 0 && !c.out.empty()) {
        ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n > 0) c.out.erase(0, std::size_t(n));
    }
}

bool simulator::match(const waiter& w, std::string& answer) const {
    for (std::size_t i = w.from ? w.from - 1 : 0; i < events_.size(); ++i) {
        if (events_[i].kind == w.kind) {
            const auto& e = events_[i];
            answer = "ok " + std::to_string(e.seq) + " " + std::to_string(e.time_us) + " " +
                     e.kind + (e.detail.empty() ? "" : " " + e.detail);
            return true;
        }
    }
    return false;
}

std::string simulator::state_line() const {
    auto flag = [](bool b) { return b ? "1" : "0"; };
    std::string s =
        "ok baud=" + std::to_string(instrument_.baud) + " parity=" + instrument_.parity +
        " stop=" + std::to_string(instrument_.stop) + " data=" + std::to_string(instrument_.data) +
        " host_baud=" + std::to_string(host_.baud) + " host_parity=" + host_.parity +
        " host_stop=" + std::to_string(host_.stop) + " host_data=" + std::to_string(host_.data);
    s += std::string(" host_reported=") + flag(host_reported_) +
         " understood=" + flag(understands());
    s += " breaks=" + std::to_string(breaks_) + " wakeups=" + std::to_string(wakeups_);
    s += std::string(" asleep=") + flag(asleep_) + " pinging=" + flag(pinging_) +
         " mode=" + (checksum_mode_ ? "checksum" : "text") + " hung_up=" + flag(hung_up_);
    s += " last_command=" + encode_value(last_command_) + " name=" + encode_value(name_) +
         " cf=" + cf_ + " ensembles=" + std::to_string(ensemble_number_) +
         " rx_bytes=" + std::to_string(rx_all_.size()) + " pty=" + encode_value(slave_path_) +
         " pid=" + std::to_string(getpid());
    return s;
}

std::string simulator::handle(client& c, const std::vector<std::string>& w) {
    const std::string& verb = w[0];
    auto from_arg = [&](std::size_t i) -> std::uint64_t {
        long n = 0;
        return i < w.size() && parse_int(w[i], n) && n > 0 ? std::uint64_t(n) : 0;
    };
    if (verb == "set") {
        if (w.size() < 2) return "err set needs key=value";
        for (std::size_t i = 1; i < w.size(); ++i) {
            auto eq = w[i].find('=');
            std::string key = eq == std::string::npos ? w[i] : w[i].substr(0, eq);
            std::string value = eq == std::string::npos ? "1" : decode_value(w[i].substr(eq + 1));
            std::string why;
            if (!set_option(key, value, why)) return "err " + why;
        }
        return "ok";
    }
    if (verb == "get") {
        if (w.size() != 2) return "err get needs a key";
        auto k = canonical_key(w[1]);
        if (k != "baud" && k != "parity" && k != "stop" && k != "cf" && !options_.count(k))
            return "err unknown option " + k;
        return "ok " + encode_value(option_value(k));
    }
    if (verb == "state") return state_line();
    if (verb == "seq") return "ok " + std::to_string(events_.size() + 1);
    if (verb == "wait") {
        long timeout = 0;
        if (w.size() < 3 || !parse_int(w[2], timeout) || timeout < 0)
            return "err wait KIND TIMEOUT_MS [FROM_SEQ]";
        waiter wt{w[1], from_arg(3), now_us() + std::int64_t(timeout) * 1000};
        std::string answer;
        if (match(wt, answer)) return answer;
        c.waiting = true;
        c.wait = wt;
        return {};
    }
    if (verb == "events") {
        std::uint64_t from = from_arg(1);
        std::string lines;
        std::size_t count = 0;
        for (std::size_t i = from ? from - 1 : 0; i < events_.size(); ++i, ++count) {
            const auto& e = events_[i];
            lines += "\n" + std::to_string(e.seq) + " " + std::to_string(e.time_us) + " " + e.kind +
                     (e.detail.empty() ? "" : " " + e.detail);
        }
        return "ok " + std::to_string(count) + lines;
    }
    if (verb == "rx" || verb == "tx") {
        std::uint64_t from = from_arg(1);
        std::string hex;
        for (std::size_t i = from ? from - 1 : 0; i < events_.size(); ++i)
            if (events_[i].kind == verb) hex += events_[i].detail;
        return "ok " + hex;
    }
    if (verb == "send") {
        std::vector<std::uint8_t> bytes;
        if (w.size() != 2 || !from_hex(w[1], bytes)) return "err send needs hex bytes";
        queue(std::string(bytes.begin(), bytes.end()), 0, true);
        return "ok";
    }
    if (verb == "hangup") {
        hang_up();
        return "ok";
    }
    if (verb == "quit") return "quit";
    if (verb == "host") {
        // Reports of the preload library from the process under test. Bytes the host wrote
        // before the call are taken first, so the log keeps the line's order.
        read_master();
        refresh_host_from_pty();
        if (w.size() == 3 && w[1] == "break" && w[2] == "on") {
            ++breaks_;
            break_on_us_ = now_us();
            emit("break_on");
            return "ok";
        }
        if (w.size() == 3 && w[1] == "break" && w[2] == "off") {
            std::int64_t held = break_on_us_ >= 0 ? (now_us() - break_on_us_) / 1000 : 0;
            bool was_on = break_on_us_ >= 0;
            break_on_us_ = -1;
            emit("break_off", std::to_string(held));
            if (was_on && option_value("ignore_breaks") == "0" &&
                held >= std::stol(option_value("break_min_ms")))
                wake_up("break");
            return "ok";
        }
        long ms = 0;
        if (w.size() == 3 && w[1] == "pulse" && parse_int(w[2], ms)) {
            ++breaks_;
            emit("break_pulse", w[2]);
            if (option_value("ignore_breaks") == "0" &&
                ms >= std::stol(option_value("break_min_ms")))
                wake_up("break");
            return "ok";
        }
        long baud = 0, stop = 0, data = 0;
        if (w.size() == 6 && w[1] == "line" && parse_int(w[2], baud) && w[3].size() == 1 &&
            parse_int(w[4], stop) && parse_int(w[5], data)) {
            host_.baud = int(baud);
            host_.parity = w[3][0];
            host_.stop = int(stop);
            host_.data = int(data);
            host_reported_ = true;
            emit("line", describe(host_));
            return "ok";
        }
        if (w.size() == 3 && w[1] == "purge") {
            emit("purge", w[2]);
            return "ok";
        }
        return "err unknown host report";
    }
    return "err unknown request " + encode_value(verb);
}

void simulator::check_waiters() {
    std::int64_t now = now_us();
    for (auto& c : clients_) {
        if (c->fd < 0 || !c->waiting) continue;
        std::string answer;
        if (match(c->wait, answer)) {
        } else if (now >= c->wait.deadline_us) {
            answer = "err timeout";
        } else {
            continue;
        }
        c->waiting = false;
        c->out += answer + "\n";
        process_lines(*c);
    }
}

int simulator::run() {
    for (;;) {
        flush_log();
        std::vector<pollfd> fds;
        fds.push_back({signal_fd_, POLLIN, 0});
        fds.push_back({listen_, POLLIN, 0});
        fds.push_back({master_, POLLIN, 0});
        std::int64_t now = now_us();
        std::int64_t next = now + 1000000;
        if (!pending_.empty()) fds[2].events |= POLLOUT;
        if (!out_.empty()) {
            if (out_.front().due_us <= now)
                fds[2].events |= POLLOUT;
            else
                next = std::min(next, out_.front().due_us);
        }
        if (pinging_) next = std::min(next, next_ping_us_);
        for (auto& c : clients_) {
            short ev = POLLIN;
            if (!c->out.empty()) ev |= POLLOUT;
            if (c->waiting) next = std::min(next, c->wait.deadline_us);
            fds.push_back({c->fd, ev, 0});
        }
        int timeout = int(std::max<std::int64_t>(0, (next - now + 999) / 1000));
        if (fds[2].events & POLLOUT) timeout = std::min(timeout, 5);
        int r = poll(fds.data(), fds.size(), timeout);
        if (r < 0 && errno != EINTR) return 1;
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo si;
            if (read(signal_fd_, &si, sizeof si) > 0) {
                emit("stop", std::to_string(si.ssi_signo));
                flush_log();
                return 0;
            }
        }
        if (fds[2].revents & POLLIN) read_master();
        // Clients in order: a break report and the data before it stay in sequence.
        for (std::size_t i = 3; i < fds.size(); ++i) {
            auto& c = *clients_[i - 3];
            if (c.fd < 0) continue;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) read_client(c);
            if (c.fd >= 0) process_lines(c);
        }
        if (fds[1].revents & POLLIN) accept_client();
        ping_due();
        write_due();
        check_waiters();
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [](const auto& c) { return c->fd < 0; }),
                       clients_.end());
    }
}

} // namespace hydsim
