// Finding and changing the instrument's serial settings over the termios port against the
// simulated instrument: what a host's windows would show, what the search found and where it left
// the port, what went over the wire.
#include "hylib/comm_setup.h"
#include "hylib/device_control.h"
#include "hylib/termios_port.h"
#include "support/sim_wire.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <tuple>

namespace hyd {
namespace {

const std::uint32_t order[] = {9600, 19200, 38400, 57600, 115200, 4800, 2400, 1200, 300};

std::string trying(std::uint32_t baud, int pass) {
    return "Trying " + std::to_string(baud) + " bps Baud Rate, " +
           (pass ? "With Parity" : "No Parity");
}

// The port on the simulator, and what the host's windows show.
struct rig final : setup::search_progress {
    sim::control sim;
    std::unique_ptr<termios_port> port;
    cancel_pipe cancel;
    std::vector<std::string> seen;
    std::function<void(int)> at; // the test's own step at each position

    explicit rig(const std::string& options) {
        std::string why;
        port = termios_port::open(std::getenv("HYD_SIM_PORT"), 9600, &why);
        if (!port) throw std::runtime_error(why);
        port->set_break_type(1);
        port->set_read_timeout_ms(40);
        test::set_options(sim, options);
    }
    void range(int l, int h) override { seen = {std::to_string(l) + "-" + std::to_string(h)}; }
    void position(int a) override {
        seen.push_back(std::to_string(a));
        if (at) at(a);
    }
    void text(const std::string& t) override { seen.push_back(t); }
    // "baud parity stop" of the instrument, or with "host_" of the port.
    std::string line(const std::string& who = "") {
        auto s = sim.state();
        return s[who + "baud"] + " " + s[who + "parity"] + " " + s[who + "stop"];
    }
};

struct search_case {
    std::string name, sim;
    hresult result;
    setup::settings found;              // the port stays at its baud rate and parity, two stop bits
    int last;                           // the last progress position
    int silent_at = -1, cancel_at = -1; // the instrument silent, or the host cancelling, there
};

std::vector<search_case> search_cases() {
    std::vector<search_case> cases;
    for (std::uint32_t pass = 0; pass < 2; ++pass)
        for (int k = 0; k < 9; ++k)
            cases.push_back({std::to_string(order[k]) + (pass ? "_even" : "_none"),
                             "baud=" + std::to_string(order[k]) + (pass ? " parity=E" : "") +
                                 " stop=" + std::to_string(k % 2 + 1),
                             s_ok, setup::settings{order[k], 2 * pass, 2u * (k % 2)},
                             18 * int(pass) + 2 * k});
    cases.push_back({"first_try_fails", "baud=4800", s_ok, {4800, 0, 0}, 11, 10});
    cases.push_back({"silent", "silence=1", e_fail, {1, 1, 1}, 35});
    cases.push_back({"parity_digit_6", "cb_digits=461", e_fail, {1, 1, 1}, 35});
    cases.push_back({"stop_digit_3", "cb_digits=413", e_fail, {1, 1, 1}, 35});
    cases.push_back({"cancelled", "baud=300", HY_E_CANCELLED, {1, 1, 1}, 3, -1, 3});
    return cases;
}

class search : public ::testing::TestWithParam<search_case> {};

TEST_P(search, finds_the_instruments_settings) {
    const search_case& c = GetParam();
    rig r(c.sim);
    r.at = [&](int a) {
        if (c.silent_at >= 0 && (a == c.silent_at || a == c.silent_at + 1))
            r.sim.set("silence", a == c.silent_at ? "1" : "0");
        if (a == c.cancel_at) r.cancel.signal();
    };
    setup::settings found{1, 1, 1};
    EXPECT_EQ(setup::search(*r.port, *r.port, &r, &r.cancel, &found), c.result);
    EXPECT_EQ(std::tie(found.baud, found.parity, found.stop_bits),
              std::tie(c.found.baud, c.found.parity, c.found.stop_bits));
    std::vector<std::string> seen{"0-35"}; // a text before every other position
    for (int a = 0; a <= c.last; ++a) {
        if (a % 2 == 0) seen.push_back(trying(order[a / 2 % 9], a / 18));
        seen.push_back(std::to_string(a));
    }
    EXPECT_EQ(r.seen, seen);
    const std::string wire = test::wire(r.sim);
    int wakes = 0; // one per attempt
    for (std::size_t at = 0; (at = wire.find("=======", at)) != std::string::npos; at += 7) ++wakes;
    EXPECT_EQ(wakes, c.last + 1);
    if (c.result != s_ok) return;
    EXPECT_EQ(r.line("host_"), std::to_string(c.found.baud) + (c.found.parity ? " E 2" : " N 2"));
}

INSTANTIATE_TEST_SUITE_P(settings, search, ::testing::ValuesIn(search_cases()),
                         [](const auto& info) { return info.param.name; });

struct change_case {
    const char *name, *sim;
    setup::settings wanted;
    hresult result;
    const char *wire, *instrument; // its settings afterwards
};

const change_case change_cases[] = {
    {"to_9600_none", "", {9600, 0, 0}, s_ok, "=======CB411\rCK\r", "9600 N 1"},
    {"to_115200_odd_two", "", {115200, 1, 2}, s_ok, "=======CB832\rCK\r", "115200 O 2"},
    {"to_300_none", "", {300, 0, 0}, s_ok, "=======CB011\rCK\r", "300 N 1"},
    {"ck_refused", "reject=CK", {300, 0, 0}, HY_E_CMDERROR, "=======CB011\rCK\r", "300 N 1"},
    {"silent", "silence=1", {300, 0, 0}, HY_E_NOWAKEUP, "==============", "19200 E 1"},
    {"bad_baud", "", {14400, 0, 0}, HY_E_BADBAUD, "", "19200 E 1"},
    {"bad_parity", "", {9600, 5, 0}, HY_E_BADPARITY, "", "19200 E 1"},
    {"bad_stop_bits", "", {9600, 0, 1}, HY_E_BADSTOPBITS, "", "19200 E 1"},
};

class change : public ::testing::TestWithParam<change_case> {};

TEST_P(change, sends_cb_and_follows_with_the_port) {
    const change_case& c = GetParam();
    rig r(std::string("baud=19200 parity=E ") + c.sim);
    ASSERT_EQ(r.port->apply({19200, 2, 0}), s_ok);
    EXPECT_EQ(setup::change(*r.port, *r.port, c.wanted), c.result);
    r.sim.set("silence", "0");
    EXPECT_EQ(test::wire(r.sim), c.wire);
    EXPECT_EQ(r.line(), c.instrument);
    EXPECT_EQ(device::wake(*r.port), s_ok); // the port and the instrument agree
}

INSTANTIATE_TEST_SUITE_P(settings, change, ::testing::ValuesIn(change_cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(tables, copy_at_most_cmax_entries) {
    std::uint32_t out[12] = {};
    EXPECT_EQ(setup::copy_table(setup::baud_rates, out, 4), 4);
    EXPECT_EQ(std::vector<std::uint32_t>(out, out + 5),
              (std::vector<std::uint32_t>{300, 1200, 2400, 4800, 0}));
    EXPECT_EQ(setup::copy_table(setup::baud_rates, out, 20), 9);
    EXPECT_EQ(setup::copy_table(setup::parities, out, -1), 0);
}

} // namespace
} // namespace hyd
