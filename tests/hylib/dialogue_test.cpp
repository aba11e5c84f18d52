// The instrument dialogue over the termios port against the simulated instrument: one table of
// scenarios, each judged by its result, the traffic the simulator logged and the log window.
#include "common/memory_stream.h"
#include "hylib/cmd_set.h"
#include "hylib/device_control.h"
#include "hylib/interpreter.h"
#include "hylib/termios_port.h"
#include "support/sim_wire.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace hyd {
namespace {

using namespace std::literals;

struct recorder final : log_window {
    std::string bytes;                  // the one-byte calls
    std::vector<std::string> messages;  // the whole-text calls
    std::vector<std::string> questions; // Yes/No questions asked
    bool shown_first = false;           // ShowWindowAsync(5) once, before any byte
    bool answer = true;
    void NewCommData(const char* data, std::uint32_t length) override {
        length == 1 ? void(bytes += *data) : void(messages.emplace_back(data, length));
    }
    void ShowWindowAsync(long n) override { shown_first = !shown_first && bytes.empty() && n == 5; }
    bool AskContinue(const std::string& q) override { return questions.push_back(q), answer; }
};

struct rig {
    sim::control sim;
    std::unique_ptr<termios_port> port;
    recorder log;
    cancel_pipe cancel;
    CSNCmdInterpreter rules;
    std::string last_reply;

    rig() {
        std::string why;
        port = termios_port::open(std::getenv("HYD_SIM_PORT"), 9600, &why);
        if (!port) throw std::runtime_error(why);
        port->set_read_timeout_ms(300);
    }
    long wake() {
        long mode = -1;
        EXPECT_EQ(rules.WakeUp(port.get(), &mode, nullptr, nullptr), s_ok);
        return mode;
    }
    // One command; *mode_after gets the mode its reply leaves.
    hresult run(const std::string& text, long mode = mode_text, log_window* plw = nullptr,
                cancel_ref c = nullptr, long* mode_after = nullptr) {
        CHyCmd command(text.c_str(), &rules);
        const hresult hr = command.Execute(port.get(), mode, plw, c);
        last_reply = command.reply();
        EXPECT_TRUE(!mode_after || command.GetMode(mode_after) == s_ok) << text;
        return hr;
    }
    hresult initialize(bool automatic, const char* file) {
        memory_stream commands(std::vector<std::uint8_t>(file, file + (file ? strlen(file) : 0)));
        return device::initialize(*port, automatic, file ? &commands : nullptr, &log, &cancel);
    }
};

// Every scenario that logs is checked for a log window that saw exactly what the instrument sent.
struct scenario {
    const char* name;
    const char* sim; // simulator options
    hresult result;
    std::string wire; // "" when not checked
    hresult (*act)(rig&);
    friend void PrintTo(const scenario& s, std::ostream* os) { *os << s.name; }
};

const scenario scenarios[] = {
    {"command_file", "", s_ok, "<break>AB1\r   \r cs\rXY2\rCF?\rCF01110\rcs\r",
     [](rig& r) {
         const hresult hr = r.initialize(
             false, "; note\r\n  $x\r\n\r\nAB1\r\n   \r\ncs\r\nCB411\r\n cs\r\nXY2\r\nDROPPED");
         EXPECT_TRUE(r.log.shown_first);
         EXPECT_EQ(r.log.messages,
                   (std::vector{test::refused("cs"), test::refused("CB411"), test::generated}));
         EXPECT_EQ(r.log.questions.size(), 2u); // the blank and the " cs" lines: ERR, Yes
         return hr;
     }},
    {"no_file_automatic", "cf=00001", s_ok, "<break>CF?\rCF11111\rcs\r",
     [](rig& r) {
         const hresult hr = r.initialize(true, nullptr);
         EXPECT_EQ(r.log.messages, std::vector{test::generated});
         return hr;
     }},
    {"error_answered_no", "reject=XX", HY_E_CMDERROR, "<break>XX1\r",
     [](rig& r) {
         r.log.answer = false;
         const hresult hr = r.initialize(false, "XX1\r\nAB2\r\n");
         EXPECT_EQ(r.log.questions, std::vector<std::string>{"XX1\r\nERR command rejected\r\nThe "
                                                             "command ended in error.  Continue "
                                                             "anyway?"});
         return hr;
     }},
    {"ax_failed_not_asked", "ax_fail=1", HY_E_CMDERROR, "ax\r",
     [](rig& r) { return r.run("ax", mode_text, &r.log); }},
    {"echo_differs", "", HY_E_CMDERROR, "<break>AB1\r",
     [](rig& r) {
         r.wake(); // then the instrument's next byte, the first echo, comes garbled
         r.sim.set("garble", std::to_string(r.sim.sent().size() + 1));
         return r.run("AB1");
     }},
    {"checksum_cs", "checksum=1 ck_reply=echo", s_ok, "<break>CS\r\x00\xA3"s,
     [](rig& r) {
         long after = -1;
         EXPECT_EQ(r.wake(), mode_checksum);
         const hresult hr = r.run("CS", mode_checksum, nullptr, nullptr, &after);
         EXPECT_EQ(after, mode_text);
         return hr;
     }},
    {"checksum_ack", "checksum=1", HY_E_CMDERROR, "<break>XY1\r\x00\xEF"s,
     [](rig& r) {
         long after = -1;
         const hresult hr = r.run("XY1", r.wake(), nullptr, nullptr, &after);
         EXPECT_EQ(after, mode_checksum);
         return hr;
     }},
    {"reply_complete_while_sending", "", HY_E_CMDERROR, "=======" + std::string(57, 'x'),
     [](rig& r) {
         // The break string inside the line: the banner arrives while the line is still going.
         const hresult hr = r.run("=======" + std::string(70, 'x'));
         EXPECT_EQ(r.last_reply.substr(7, 9), "\r\nHY I si");
         return hr;
     }},
    {"bits_command", "cf=01111", s_ok, "CF?\rCF11011\r",
     [](rig& r) {
         CHyBitsCmd cf("CF", "1X0XX", &r.rules, r.port.get(), mode_text, &r.log, nullptr);
         EXPECT_STREQ(cf.GetCommand(), "CF11011");
         return cf.Execute(r.port.get(), mode_text, &r.log, nullptr);
     }},
    {"bits_value_at_reply_end", "", HY_E_IO, "",
     [](rig& r) {
         EXPECT_EQ(r.run("XX01111"), s_ok);
         CHyBitsCmd exact("XX", "1X0XX", &r.rules, r.port.get(), mode_text, nullptr, nullptr);
         EXPECT_STREQ(exact.GetCommand(), "XX11011");
         EXPECT_EQ(r.run("XX011"), s_ok);
         try {
             CHyBitsCmd shorter("XX", "1X0XX", &r.rules, r.port.get(), mode_text, nullptr, nullptr);
         } catch (long hr) {
             return static_cast<hresult>(hr);
         }
         return s_ok;
     }},
    {"silent", "silence=1", HY_E_NOWAKEUP, "<break><break><break>",
     [](rig& r) { return r.initialize(false, nullptr); }},
    {"no_banner_id", "no_banner_id=1", HY_E_NOWAKEUP, "<break><break><break>",
     [](rig& r) { return r.initialize(false, nullptr); }},
    {"command_timeout", "silence=1", HY_E_TIMEOUT, "A", [](rig& r) { return r.run("AB1"); }},
    {"hung_up_line", "", HY_E_IO, "",
     [](rig& r) {
         r.sim.hangup();
         return r.run("AB1");
     }},
    {"reset_silent", "silence=1", HY_E_NOWAKEUP, "<break>",
     [](rig& r) { return device::reset(*r.port, &r.log, nullptr); }},
    {"close_silent", "silence=1", HY_E_NOWAKEUP, "<break>",
     [](rig& r) { return device::close(*r.port); }},
    {"cancel_during_break", "", s_ok, "<short break><break>",
     [](rig& r) {
         r.cancel.signal();
         EXPECT_EQ(r.initialize(false, nullptr), HY_E_CANCELLED);
         return device::close(*r.port);
     }},
    {"cancel_while_waiting", "silence=1", HY_E_CANCELLED, "AAB2\r",
     [](rig& r) {
         std::thread host([&] { std::this_thread::sleep_for(100ms), r.cancel.signal(); });
         r.port->set_read_timeout_ms(0);
         const hresult hr = r.run("AB1", mode_text, nullptr, &r.cancel);
         host.join();
         r.sim.set("silence", "0");
         EXPECT_EQ(r.run("AB2"), s_ok);
         return hr;
     }},
    {"cancel_beats_waiting_byte", "", s_ok, "cs\r",
     [](rig& r) {
         r.sim.send({'E', '1', '>'});
         r.sim.wait("tx", 1000);
         r.cancel.signal();
         EXPECT_EQ(device::next(*r.port, &r.log, &r.cancel), HY_E_CANCELLED);
         EXPECT_EQ(r.log.bytes, "");
         return device::next(*r.port, &r.log, nullptr);
     }},
    {"reset_then_next", "ping_output=text ping_count=2 ping_text=E%n", s_ok, "<break>cs\rcs\r",
     [](rig& r) {
         EXPECT_EQ(device::reset(*r.port, &r.log, nullptr), s_ok);
         const hresult hr = device::next(*r.port, &r.log, nullptr);
         EXPECT_EQ(r.log.bytes, "cs\r\nE1E2\r\n>cs\r\n"); // the break's banner is not logged
         r.log.bytes.clear();
         return hr;
     }},
    {"capture_takes_what_the_dialogue_left", "", s_ok, "",
     [](rig& r) {
         r.sim.send({'X', 'Y', 'Z'});
         r.sim.wait("tx", 1000);
         std::uint8_t rest[8] = {};
         EXPECT_EQ(r.port->read_byte(nullptr), 'X');
         EXPECT_EQ(r.port->read_some(rest, sizeof rest, nullptr), 2u);
         EXPECT_EQ(std::string(rest, rest + 2), "YZ");
         return s_ok;
     }},
    {"close_break_string", "", s_ok, "=======",
     [](rig& r) {
         r.port->set_break_type(2);
         return device::close(*r.port);
     }},
};

class dialogue : public ::testing::TestWithParam<scenario> {};

TEST_P(dialogue, on_the_wire_and_in_the_log) {
    const scenario& s = GetParam();
    rig r;
    test::set_options(r.sim, std::string("ping_output=none ping_count=0 ") + s.sim);
    EXPECT_EQ(s.act(r), s.result);
    EXPECT_EQ(s.wire.empty() ? s.wire : test::wire(r.sim), s.wire);
    EXPECT_EQ(r.log.bytes, r.log.bytes.empty() ? "" : test::instrument_sent(r.sim));
}

INSTANTIATE_TEST_SUITE_P(scenarios, dialogue, ::testing::ValuesIn(scenarios),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace hyd
