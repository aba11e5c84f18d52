// The simulator's options and faults, parsed once from "name=value" words (command line and the
// control socket's `set`) into typed fields that the dialogue reads on every byte.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hydsim {

struct line_settings {
    int baud = 9600;
    char parity = 'N'; // N, O, E, M, S
    int stop = 1;      // 1 or 2
    int data = 8;
};

// "BAUD P STOP DATA", as the log and the host reports write them.
std::string describe(const line_settings& s);

// Baud table of the CB command, position = digit; parity digits 1..5.
inline constexpr int cb_bauds[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr char cb_parities[] = {'N', 'E', 'O', 'M', 'S'};

enum class ck_reply { ack, echo };
enum class ping_output { ensemble, text, none };
enum class mismatch { garbage, silent };

struct options {
    line_settings instrument;
    std::string cf = "11110";

    bool silence = false;
    int delay_ms = 0;
    int byte_delay_ms = 0;
    int drop = 0;   // every Nth output byte dropped
    int garble = 0; // every Nth output byte XOR 0x5A
    bool no_banner_id = false;
    bool ignore_breaks = false;
    int break_min_ms = 0;
    bool no_echo = false;
    bool checksum = false;
    hydsim::ck_reply ck_reply = ck_reply::ack;
    hydsim::ping_output ping_output = ping_output::ensemble;
    int ping_count = 1; // 0: until a break
    int ping_interval_ms = 20;
    std::string ping_text = "Ensemble %n";
    int ping_cells = 30;
    bool ax_fail = false;
    std::string reject;                     // as given
    std::vector<std::string> reject_prefix; // upper case, empty ones left out
    hydsim::mismatch mismatch = mismatch::garbage;
    std::string cb_digits; // what CB? reports in place of the settings; empty: the settings
};

// Applies one option ('-' and '_' alike in the name); the reason when the value is refused, in
// which case nothing changes.
std::optional<std::string> set_option(options& o, const std::string& name,
                                      const std::string& value);
// The value as `get` answers it; nullopt for an unknown name.
std::optional<std::string> get_option(const options& o, const std::string& name);

} // namespace hydsim
