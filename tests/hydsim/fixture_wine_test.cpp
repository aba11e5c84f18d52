// The test bench under Wine: a Windows program reaches the simulated instrument through the mapped
// COM port, and the simulator sees what the pty alone cannot carry (breaks, parity, data bits).
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

class sim_wine_port : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* name = std::getenv("HYD_SIM_PORT");
        ASSERT_NE(name, nullptr) << "run under with-hydsim.sh";
        std::string path = std::string("\\\\.\\") + name;
        port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << path << " error " << GetLastError();
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        COMMTIMEOUTS t{};
        t.ReadTotalTimeoutConstant = 2000;
        t.WriteTotalTimeoutConstant = 500;
        ASSERT_TRUE(SetCommTimeouts(port, &t));
        set_line(CBR_9600, NOPARITY, ONESTOPBIT);
    }
    void TearDown() override {
        if (event) CloseHandle(event);
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
    }

    void set_line(DWORD baud, BYTE parity, BYTE stop) {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(port, &dcb));
        dcb.BaudRate = baud;
        dcb.Parity = parity;
        dcb.StopBits = stop;
        dcb.ByteSize = 8;
        dcb.fBinary = TRUE;
        ASSERT_TRUE(SetCommState(port, &dcb));
    }

    void write(const std::string& text) {
        OVERLAPPED ov{};
        ov.hEvent = event;
        DWORD done = 0;
        if (!WriteFile(port, text.data(), DWORD(text.size()), &done, &ov)) {
            ASSERT_EQ(GetLastError(), DWORD(ERROR_IO_PENDING));
        }
        ASSERT_TRUE(GetOverlappedResult(port, &ov, &done, TRUE));
        ASSERT_EQ(done, text.size());
    }

    // Reads until the text ends with `end`, a time-out or 4 KB.
    std::string read_until(const std::string& end) {
        std::string got;
        while (got.size() < 4096) {
            char c = 0;
            OVERLAPPED ov{};
            ov.hEvent = event;
            DWORD done = 0;
            if (!ReadFile(port, &c, 1, &done, &ov) && GetLastError() != ERROR_IO_PENDING) break;
            if (!GetOverlappedResult(port, &ov, &done, TRUE) || done != 1) break;
            got += c;
            if (got.size() >= end.size() &&
                got.compare(got.size() - end.size(), end.size(), end) == 0)
                break;
        }
        return got;
    }

    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    hyd::sim::control sim;
};

TEST_F(sim_wine_port, break_string_wakes_and_commands_echo) {
    write("=======");
    auto banner = read_until("\r\n>");
    EXPECT_NE(banner.find("HY I"), std::string::npos) << banner;
    write("CB?\r");
    auto reply = read_until("\r\n>");
    ASSERT_GE(reply.size(), 13u) << reply;
    EXPECT_EQ(reply.substr(0, 4), "CB?\r");
    EXPECT_EQ(reply.substr(10, 3), "411");
}

TEST_F(sim_wine_port, line_break_is_seen_before_clear_returns) {
    auto from = sim.next_seq();
    ASSERT_TRUE(SetCommBreak(port));
    auto on = sim.wait("break_on", 0, from);
    ASSERT_TRUE(on) << "SetCommBreak returned before the simulator saw the break";
    Sleep(100);
    ASSERT_TRUE(ClearCommBreak(port));
    auto off = sim.wait("break_off", 0, from);
    ASSERT_TRUE(off);
    EXPECT_GE(off->time_us - on->time_us, 90000);
    EXPECT_NE(read_until("\r\n>").find("HY I"), std::string::npos);
}

TEST_F(sim_wine_port, parity_and_stop_bits_reach_the_simulator) {
    set_line(CBR_19200, EVENPARITY, TWOSTOPBITS);
    auto s = sim.state();
    EXPECT_EQ(s["host_baud"], "19200");
    EXPECT_EQ(s["host_parity"], "E");
    EXPECT_EQ(s["host_stop"], "2");
    EXPECT_EQ(s["host_data"], "8");
    EXPECT_EQ(s["understood"], "0");

    // Read back on the handle as from a real port.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(port, &dcb));
    EXPECT_EQ(dcb.BaudRate, DWORD(CBR_19200));
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.ByteSize, 8);
}

} // namespace
