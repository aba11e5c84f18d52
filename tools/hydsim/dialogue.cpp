#include "dialogue.h"

#include "ensemble/ensemble_builder.h"
#include "sim_text.h"

#include <algorithm>
#include <cctype>

namespace hydsim {

namespace {

const char banner_text[] = " simulated profiler\r\nfirmware 51.40 (test bench)";
const std::size_t max_line = 512;

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

dialogue::dialogue(event_log& log, const options& o) : log_(log), opts_(o), host_(o.instrument) {}

void dialogue::emit(std::int64_t now, std::string kind, std::string detail) {
    log_.emit(now, std::move(kind), std::move(detail));
}

bool dialogue::understands() const {
    // A receiver takes a longer stop than its own in its stride, not a shorter one.
    const auto& i = opts_.instrument;
    return host_.baud == i.baud && host_.parity == i.parity && host_.data == i.data &&
           host_.stop >= i.stop;
}

// ---- input -----------------------------------------------------------------------------------

void dialogue::pty_line(int baud, int stop) {
    if (baud) host_.baud = baud;
    host_.stop = stop;
}

void dialogue::host_line(const line_settings& host, std::int64_t now) {
    host_ = host;
    host_reported_ = true;
    emit(now, "line", describe(host_));
}

void dialogue::break_on(std::int64_t now) {
    ++breaks_;
    break_on_us_ = now;
    emit(now, "break_on");
}

void dialogue::break_off(std::int64_t now) {
    bool was_on = break_on_us_ >= 0;
    std::int64_t held = was_on ? (now - break_on_us_) / 1000 : 0;
    break_on_us_ = -1;
    emit(now, "break_off", std::to_string(held));
    if (was_on && !opts_.ignore_breaks && held >= opts_.break_min_ms) wake_up("break", now);
}

void dialogue::break_pulse(int ms, std::int64_t now) {
    ++breaks_;
    emit(now, "break_pulse", std::to_string(ms));
    if (!opts_.ignore_breaks && ms >= opts_.break_min_ms) wake_up("break", now);
}

void dialogue::purge(const std::string& queue, std::int64_t now) {
    emit(now, "purge", queue);
}

void dialogue::receive(const std::uint8_t* data, std::size_t size, std::int64_t now) {
    emit(now, "rx", to_hex(data, size));
    rx_bytes_ += size;
    for (std::size_t i = 0; i < size; ++i) receive_byte(data[i], now);
}

void dialogue::receive_byte(std::uint8_t b, std::int64_t now) {
    if (!understands()) {
        // At other line settings the bytes arrive mangled: no command, no break string.
        equals_run_ = 0;
        if (!asleep_ && !pinging() && !opts_.no_echo) queue(std::string(1, char(b)), now);
        return;
    }
    equals_run_ = b == '=' ? equals_run_ + 1 : 0;
    bool break_string = equals_run_ >= 7 && !opts_.ignore_breaks;
    if (asleep_ || pinging()) {
        if (break_string) wake_up("string", now);
        return;
    }
    if (checksum_mode_) return checksum_byte(b, break_string, now);
    if (!opts_.no_echo) queue(std::string(1, char(b)), now, 0, true);
    if (break_string) return wake_up("string", now);
    if (b == '\r') {
        std::string command = std::move(line_);
        line_.clear();
        execute(command, false, now);
    } else if (b != '\n' && line_.size() < max_line) {
        line_ += char(b);
    }
}

void dialogue::checksum_byte(std::uint8_t b, bool break_string, std::int64_t now) {
    // Text, CR, then a 16-bit sum of both, high byte first; nothing is echoed.
    if (sum_bytes_ < 0) {
        if (break_string) return wake_up("string", now);
        if (b == '\r')
            sum_bytes_ = 0; // the sum's two bytes shift out whatever sum_got_ held
        else if (line_.size() < max_line)
            line_ += char(b);
        return;
    }
    sum_got_ = static_cast<std::uint16_t>((sum_got_ << 8) | b);
    if (++sum_bytes_ < 2) return;
    std::uint16_t sum = '\r';
    for (unsigned char c : line_) sum = static_cast<std::uint16_t>(sum + c);
    std::string command = std::move(line_);
    line_.clear();
    sum_bytes_ = -1;
    if (sum == sum_got_) return execute(command, true, now);
    last_command_ = command;
    emit(now, "checksum_bad",
         encode_value(command) + " got=" + std::to_string(sum_got_) +
             " want=" + std::to_string(sum));
    queue("\x15\r\nERR checksum\r\n>", now, reply_delay());
}

void dialogue::send_raw(const std::string& bytes, std::int64_t now) {
    if (!hung_up_) enqueue(bytes, now, false);
}

void dialogue::hang_up(std::int64_t now) {
    if (hung_up_) return;
    hung_up_ = true;
    out_.clear();
    ready_.clear();
    next_ping_us_ = never;
    emit(now, "hangup");
}

// ---- output ----------------------------------------------------------------------------------

void dialogue::queue(const std::string& bytes, std::int64_t now, std::int64_t delay_us, bool echo) {
    if (hung_up_ || opts_.silence) return;
    std::string data = bytes;
    if (!understands()) {
        if (opts_.mismatch == mismatch::silent) return;
        // What a receiver at another baud rate or parity makes of the bytes: noise with the top
        // bit set, never a carriage return, line feed or prompt.
        for (auto& c : data)
            c = char(0x80 | ((std::uint8_t(c) * 13 + host_.baud / 300 +
                              opts_.instrument.baud / 1200 + host_.parity) &
                             0x7F));
    }
    enqueue(data, now + delay_us, echo);
}

void dialogue::enqueue(const std::string& bytes, std::int64_t earliest_us, bool echo) {
    std::int64_t gap = std::int64_t(opts_.byte_delay_ms) * 1000;
    std::int64_t t = std::max(earliest_us, next_slot_us_);
    for (unsigned char c : bytes) {
        out_.push_back({t, c, echo});
        t += gap;
    }
    next_slot_us_ = t;
}

const std::vector<std::uint8_t>& dialogue::ready(std::int64_t now) {
    while (!out_.empty() && out_.front().due_us <= now) {
        std::uint8_t c = out_.front().value;
        out_.pop_front();
        ++sent_count_;
        if (opts_.drop && sent_count_ % unsigned(opts_.drop) == 0) continue;
        if (opts_.garble && sent_count_ % unsigned(opts_.garble) == 0) c ^= 0x5A;
        ready_.push_back(c);
    }
    return ready_;
}

void dialogue::written(std::size_t n, std::int64_t now) {
    n = std::min(n, ready_.size());
    if (!n) return;
    emit(now, "tx", to_hex(ready_.data(), n));
    ready_.erase(ready_.begin(), ready_.begin() + std::ptrdiff_t(n));
}

std::int64_t dialogue::next_output_us() const {
    if (!ready_.empty()) return 0;
    return out_.empty() ? never : out_.front().due_us;
}

// ---- the dialogue ----------------------------------------------------------------------------

void dialogue::wake_up(const char* cause, std::int64_t now) {
    // Whatever was still to go out is abandoned, except the echo of what the host typed.
    std::erase_if(out_, [](const out_byte& o) { return !o.echo; });
    ready_.clear();
    next_slot_us_ =
        out_.empty() ? 0 : out_.back().due_us + std::int64_t(opts_.byte_delay_ms) * 1000;
    next_ping_us_ = never;
    asleep_ = false;
    line_.clear();
    sum_bytes_ = -1;
    equals_run_ = 0;
    bool understood = understands();
    checksum_mode_ = understood && opts_.checksum;
    ++wakeups_;
    emit(now, "wakeup", std::string(cause) + (understood ? "" : " not-understood"));
    std::string banner = opts_.no_banner_id ? "\r\nHX ?" : "\r\nHY I";
    banner += banner_text;
    if (checksum_mode_) banner += '\x06';
    queue(banner + "\r\n>", now, reply_delay());
}

void dialogue::reply(const std::string& command, const std::string& body, bool checksum_mode,
                     std::int64_t now, bool prompt) {
    std::string text = "\n";
    if (checksum_mode && opts_.ck_reply == ck_reply::ack) {
        text = "\x06\r\n";
    } else if (checksum_mode) {
        // The command comes back ahead of the reply, and the host leaves checksum mode with it.
        text = command + "\r\n";
        checksum_mode_ = false;
    }
    if (!body.empty()) text += body + "\r\n";
    if (prompt) text += ">";
    queue(text, now, reply_delay());
}

void dialogue::execute(const std::string& command, bool checksum_mode, std::int64_t now) {
    last_command_ = command;
    emit(now, "command", encode_value(command));
    const std::string up = upper(command);
    const std::string head = up.substr(0, 2);
    auto done = [&](const std::string& body = {}) { reply(command, body, checksum_mode, now); };
    auto refuse = [&](const std::string& why) {
        emit(now, "refused", encode_value(command) + " " + encode_value(why));
        done("ERR " + why);
    };

    if (command.empty()) return done();
    for (const auto& prefix : opts_.reject_prefix)
        if (up.starts_with(prefix)) return refuse("command rejected");

    if (up == "CF?") return done("CF = " + opts_.cf + " ----- flow control");
    if (head == "CF") {
        std::string v = command.substr(2);
        if (v.size() != 5 || v.find_first_not_of("01") != std::string::npos)
            return refuse("bad CF value");
        opts_.cf = v;
        return done();
    }
    auto& inst = opts_.instrument;
    if (up == "CB?") {
        auto b = std::find(std::begin(cb_bauds), std::end(cb_bauds), inst.baud) - cb_bauds;
        auto p = std::string(cb_parities, 5).find(inst.parity) + 1;
        std::string digits = std::to_string(b) + std::to_string(p) + std::to_string(inst.stop);
        if (!opts_.cb_digits.empty()) digits = opts_.cb_digits;
        return done("CB = " + digits + " ----- serial port (baud, parity, stop bits)");
    }
    if (head == "CB") {
        std::string v = command.substr(2);
        if (v.size() != 3 || v[0] < '0' || v[0] > '8' || v[1] < '1' || v[1] > '5' || v[2] < '1' ||
            v[2] > '2')
            return refuse("bad CB value");
        done(); // at the old settings
        inst.baud = cb_bauds[v[0] - '0'];
        inst.parity = cb_parities[v[1] - '1'];
        inst.stop = v[2] - '0';
        emit(now, "settings", describe(inst));
        return;
    }
    if (up == "CK") return done("[Parameters saved as user defaults]");
    if (up == "CS") {
        reply(command, "", checksum_mode, now, false);
        pings_left_ = opts_.ping_count;
        next_ping_us_ = now + std::int64_t(opts_.ping_interval_ms) * 1000;
        emit(now, "pinging", std::to_string(pings_left_));
        return;
    }
    if (up == "CZ") {
        reply(command, "[POWERING DOWN .....]", checksum_mode, now, false);
        asleep_ = true;
        emit(now, "sleep");
        return;
    }
    if (up == "AX") {
        // Indented: a line starting with '>' would end the host's reply at the CR LF before it.
        return done(
            std::string("Alignment test, 4 beams\r\n") +
            (opts_.ax_fail ? "  No result: signal too weak" : "  >>> Total error: 0.42 deg <<<"));
    }
    if (head == "RN" && (command.size() == 2 || command[2] == ' ')) {
        std::string n = command.substr(std::min<std::size_t>(3, command.size()));
        if (n.empty() || n.size() > 32) return refuse("bad name");
        name_ = n;
        return done();
    }
    // Any other two letters and printable text set or query a parameter.
    bool letters = command.size() >= 2 && std::isalpha(static_cast<unsigned char>(command[0])) &&
                   std::isalpha(static_cast<unsigned char>(command[1]));
    bool printable =
        std::all_of(command.begin(), command.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    if (!letters || !printable) return refuse("unknown command");
    std::string value = command.substr(2);
    if (value == "?") {
        auto it = parameters_.find(head);
        return done(head + " = " + (it == parameters_.end() ? "0" : it->second));
    }
    parameters_[head] = value;
    done();
}

void dialogue::tick(std::int64_t now) {
    if (now < next_ping_us_) return;
    ++ensemble_number_;
    if (opts_.ping_output == ping_output::ensemble) {
        auto e = hyd::build::sample_ensemble(ensemble_number_, std::uint8_t(opts_.ping_cells), true,
                                             ensemble_number_);
        queue(std::string(e.begin(), e.end()), now);
    } else if (opts_.ping_output == ping_output::text) {
        std::string t = opts_.ping_text;
        for (std::size_t p; (p = t.find("%n")) != std::string::npos;)
            t.replace(p, 2, std::to_string(ensemble_number_));
        queue(t, now);
    }
    emit(now, "ping", std::to_string(ensemble_number_));
    if (pings_left_ > 0 && --pings_left_ == 0) {
        next_ping_us_ = never;
        queue("\r\n>", now);
        return;
    }
    next_ping_us_ += std::int64_t(opts_.ping_interval_ms) * 1000;
}

std::string dialogue::state() const {
    auto flag = [](bool b) { return b ? "1" : "0"; };
    const auto& i = opts_.instrument;
    std::string s = "baud=" + std::to_string(i.baud) + " parity=" + i.parity +
                    " stop=" + std::to_string(i.stop) + " data=" + std::to_string(i.data);
    s += " host_baud=" + std::to_string(host_.baud) + " host_parity=" + host_.parity +
         " host_stop=" + std::to_string(host_.stop) + " host_data=" + std::to_string(host_.data);
    s += std::string(" host_reported=") + flag(host_reported_) +
         " understood=" + flag(understands());
    s += " breaks=" + std::to_string(breaks_) + " wakeups=" + std::to_string(wakeups_);
    s += std::string(" asleep=") + flag(asleep_) + " pinging=" + flag(pinging()) +
         " mode=" + (checksum_mode_ ? "checksum" : "text") + " hung_up=" + flag(hung_up_);
    s += " last_command=" + encode_value(last_command_) + " name=" + encode_value(name_) +
         " cf=" + opts_.cf + " ensembles=" + std::to_string(ensemble_number_) +
         " rx_bytes=" + std::to_string(rx_bytes_);
    return s;
}

} // namespace hydsim
