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
#include <numeric>

namespace hyd {
namespace {

struct windows final : setup::search_progress {
    int low = -1, high = -1;
    std::vector<int> positions;
    std::vector<std::string> texts;
    std::function<void(int)> at; // the test's own step at each position
    void range(int l, int h) override { low = l, high = h; }
    void position(int a) override {
        positions.push_back(a);
        if (at) at(a);
    }
    void text(const std::string& t) override { texts.push_back(t); }
};

struct rig {
    sim::control sim;
    std::unique_ptr<termios_port> port;
    cancel_pipe cancel;
    windows shown;
    rig() {
        std::string why;
        port = termios_port::open(std::getenv("HYD_SIM_PORT"), 9600, &why);
        if (!port) throw std::runtime_error(why);
        port->set_break_type(1);
        port->set_read_timeout_ms(40);
    }
};

std::string trying(std::uint32_t baud, int pass) {
    return "Trying " + std::to_string(baud) + " bps Baud Rate, " +
           (pass ? "With Parity" : "No Parity");
}

struct search_case {
    std::string name, sim;
    hresult result;
    setup::settings found; // and the port's baud rate and parity; two stop bits
    int last;              // the last progress position
    std::string last_text;
    int silent_at = -1, cancel_at = -1; // the instrument silent, or the host cancelling, there
};

void PrintTo(const search_case& c, std::ostream* os) {
    *os << c.name;
}

std::vector<search_case> search_cases() {
    const std::uint32_t order[] = {9600, 19200, 38400, 57600, 115200, 4800, 2400, 1200, 300};
    std::vector<search_case> cases;
    for (int pass = 0; pass < 2; ++pass)
        for (int k = 0; k < 9; ++k) {
            const int stop = k % 2 + 1;
            cases.push_back({std::to_string(order[k]) + (pass ? "_even" : "_none"),
                             "baud=" + std::to_string(order[k]) + (pass ? " parity=E" : "") +
                                 " stop=" + std::to_string(stop),
                             s_ok, setup::settings{order[k], pass ? 2u : 0u, stop == 2 ? 2u : 0u},
                             18 * pass + 2 * k, trying(order[k], pass)});
        }
    const setup::settings none{};
    const std::string end = trying(300, 1);
    cases.push_back({"first_try_fails", "baud=4800", s_ok, {4800, 0, 0}, 11, trying(4800, 0), 10});
    cases.push_back({"silent", "silence=1", e_fail, none, 35, end});
    cases.push_back({"parity_digit_6", "cb_digits=461", e_fail, none, 35, end});
    cases.push_back({"stop_digit_3", "cb_digits=413", e_fail, none, 35, end});
    cases.push_back({"cancelled", "baud=300", HY_E_CANCELLED, none, 3, trying(19200, 0), -1, 3});
    return cases;
}

class search : public ::testing::TestWithParam<search_case> {};

TEST_P(search, finds_the_instruments_settings) {
    const search_case& c = GetParam();
    rig r;
    test::set_options(r.sim, c.sim);
    r.shown.at = [&](int a) {
        if (c.silent_at >= 0 && (a == c.silent_at || a == c.silent_at + 1))
            r.sim.set("silence", a == c.silent_at ? "1" : "0");
        if (a == c.cancel_at) r.cancel.signal();
    };
    setup::settings found{1, 1, 1};
    EXPECT_EQ(setup::search(*r.port, *r.port, &r.shown, &r.cancel, &found), c.result);
    const setup::settings want = c.result == s_ok ? c.found : setup::settings{1, 1, 1};
    EXPECT_EQ(found.baud, want.baud);
    EXPECT_EQ(found.parity, want.parity);
    EXPECT_EQ(found.stop_bits, want.stop_bits);
    EXPECT_EQ(r.shown.low, 0);
    EXPECT_EQ(r.shown.high, 35);
    std::vector<int> positions(c.last + 1);
    std::iota(positions.begin(), positions.end(), 0);
    EXPECT_EQ(r.shown.positions, positions);
    const std::string wire = test::wire(r.sim);
    std::size_t breaks = 0; // one wake-up per attempt
    for (std::size_t at = 0; (at = wire.find("=======", at)) != std::string::npos; at += 7)
        ++breaks;
    EXPECT_EQ(breaks, positions.size());
    ASSERT_EQ(r.shown.texts.size(), c.last / 2 + 1u);
    EXPECT_EQ(r.shown.texts.front(), trying(9600, 0));
    EXPECT_EQ(r.shown.texts.back(), c.last_text);
    if (c.result != s_ok) return;
    auto state = r.sim.state(); // the port stays at the setting that answered
    EXPECT_EQ(state["host_baud"], std::to_string(c.found.baud));
    EXPECT_EQ(state["host_parity"], c.found.parity ? "E" : "N");
    EXPECT_EQ(state["host_stop"], "2");
}

INSTANTIATE_TEST_SUITE_P(settings, search, ::testing::ValuesIn(search_cases()),
                         [](const auto& info) { return info.param.name; });

struct change_case {
    const char* name;
    const char* sim;
    setup::settings wanted;
    hresult result;
    const char* wire;
    const char* instrument; // its settings afterwards, as "baud parity stop"
};

void PrintTo(const change_case& c, std::ostream* os) {
    *os << c.name;
}

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
    rig r;
    test::set_options(r.sim, std::string("baud=19200 parity=E ") + c.sim);
    ASSERT_EQ(r.port->apply({19200, 2, 0}), s_ok);
    EXPECT_EQ(setup::change(*r.port, *r.port, c.wanted), c.result);
    r.sim.set("silence", "0");
    EXPECT_EQ(test::wire(r.sim), c.wire);
    auto state = r.sim.state();
    EXPECT_EQ(state["baud"] + " " + state["parity"] + " " + state["stop"], c.instrument);
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
    EXPECT_EQ(out[8], 115200u);
    EXPECT_EQ(setup::copy_table(setup::parities, out, -1), 0);
}

} // namespace
} // namespace hyd
