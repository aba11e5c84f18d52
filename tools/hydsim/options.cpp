#include "options.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace hydsim {

namespace {

std::optional<int> number(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long n = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || n < 0 || n > INT_MAX) return std::nullopt;
    return int(n);
}

std::string upper(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct int_option {
    const char* name;
    int options::*field;
};
const int_option int_options[] = {
    {"delay_ms", &options::delay_ms},
    {"byte_delay_ms", &options::byte_delay_ms},
    {"drop", &options::drop},
    {"garble", &options::garble},
    {"break_min_ms", &options::break_min_ms},
    {"ping_count", &options::ping_count},
    {"ping_interval_ms", &options::ping_interval_ms},
    {"ping_cells", &options::ping_cells},
};

struct flag_option {
    const char* name;
    bool options::*field;
};
const flag_option flag_options[] = {
    {"silence", &options::silence},
    {"no_banner_id", &options::no_banner_id},
    {"ignore_breaks", &options::ignore_breaks},
    {"no_echo", &options::no_echo},
    {"checksum", &options::checksum},
    {"ax_fail", &options::ax_fail},
};

// Enumerated options: the words in the order of the enum's values.
const std::vector<std::string> ck_reply_words = {"ack", "echo"};
const std::vector<std::string> ping_output_words = {"ensemble", "text", "none"};
const std::vector<std::string> mismatch_words = {"garbage", "silent"};

template <class E>
std::optional<std::string> pick(E& field, const std::string& value,
                                const std::vector<std::string>& words, const char* why) {
    auto it = std::find(words.begin(), words.end(), value);
    if (it == words.end()) return why;
    field = E(it - words.begin());
    return std::nullopt;
}

std::string canonical(std::string name) {
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
}

} // namespace

std::string describe(const line_settings& s) {
    return std::to_string(s.baud) + " " + s.parity + " " + std::to_string(s.stop) + " " +
           std::to_string(s.data);
}

std::optional<std::string> set_option(options& o, const std::string& raw_name,
                                      const std::string& value) {
    const std::string name = canonical(raw_name);
    if (name == "baud") {
        auto n = number(value);
        if (!n || std::find(std::begin(cb_bauds), std::end(cb_bauds), *n) == std::end(cb_bauds))
            return "baud not in the table";
        o.instrument.baud = *n;
        return std::nullopt;
    }
    if (name == "parity") {
        std::string v = upper(value);
        if (v.size() != 1 || std::string(cb_parities, 5).find(v[0]) == std::string::npos)
            return "parity is one of N O E M S";
        o.instrument.parity = v[0];
        return std::nullopt;
    }
    if (name == "stop") {
        auto n = number(value);
        if (!n || (*n != 1 && *n != 2)) return "stop is 1 or 2";
        o.instrument.stop = *n;
        return std::nullopt;
    }
    if (name == "cf") {
        if (value.size() != 5 || value.find_first_not_of("01") != std::string::npos)
            return "cf is five binary digits";
        o.cf = value;
        return std::nullopt;
    }
    for (const auto& f : flag_options) {
        if (name != f.name) continue;
        auto n = number(value);
        if (!n) return name + " takes a number";
        o.*f.field = *n != 0;
        return std::nullopt;
    }
    for (const auto& f : int_options) {
        if (name != f.name) continue;
        auto n = number(value);
        if (!n) return name + " takes a number";
        if (name == "ping_cells" && (*n < 1 || *n > 128)) return "ping_cells is 1 to 128";
        o.*f.field = *n;
        return std::nullopt;
    }
    if (name == "ck_reply")
        return pick(o.ck_reply, value, ck_reply_words, "ck_reply is ack or echo");
    if (name == "ping_output")
        return pick(o.ping_output, value, ping_output_words,
                    "ping_output is ensemble, text or none");
    if (name == "mismatch")
        return pick(o.mismatch, value, mismatch_words, "mismatch is garbage or silent");
    if (name == "ping_text") {
        o.ping_text = value;
        return std::nullopt;
    }
    if (name == "cb_digits") {
        if (value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos)
            return "cb_digits is up to three digits";
        o.cb_digits = value;
        return std::nullopt;
    }
    if (name == "reject") {
        o.reject = value;
        o.reject_prefix.clear();
        for (std::size_t pos = 0; pos <= value.size();) {
            std::size_t end = std::min(value.find(',', pos), value.size());
            if (end > pos) o.reject_prefix.push_back(upper(value.substr(pos, end - pos)));
            pos = end + 1;
        }
        return std::nullopt;
    }
    return "unknown option " + name;
}

std::optional<std::string> get_option(const options& o, const std::string& raw_name) {
    const std::string name = canonical(raw_name);
    if (name == "baud") return std::to_string(o.instrument.baud);
    if (name == "parity") return std::string(1, o.instrument.parity);
    if (name == "stop") return std::to_string(o.instrument.stop);
    if (name == "cf") return o.cf;
    for (const auto& f : flag_options)
        if (name == f.name) return std::string(o.*f.field ? "1" : "0");
    for (const auto& f : int_options)
        if (name == f.name) return std::to_string(o.*f.field);
    if (name == "ck_reply") return ck_reply_words[std::size_t(o.ck_reply)];
    if (name == "ping_output") return ping_output_words[std::size_t(o.ping_output)];
    if (name == "mismatch") return mismatch_words[std::size_t(o.mismatch)];
    if (name == "ping_text") return o.ping_text;
    if (name == "cb_digits") return o.cb_digits;
    if (name == "reject") return o.reject;
    return std::nullopt;
}

} // namespace hydsim
