// The serial stream and the settings object on a Wine COM port mapped to the simulated
// instrument's pty: a stream read cut short by the port's time-out, the cancellable line break and
// Apply, checked from the simulator's side. Overlapped reads, writes and the break string through
// Hyd.dll are the device tests' part (tests/hylib).
#include "common/result_codes.h"
#include "common/win_raii_win.h"
#include "streams/hyserial_win.h"
#include "streams/sercfg_win.h"
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* port = std::getenv("HYD_SIM_PORT");
        ASSERT_NE(port, nullptr) << "run through the simulator bench";
        h_.reset(CreateFileA((std::string("\\\\.\\") + port).c_str(), GENERIC_READ | GENERIC_WRITE,
                             0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        ASSERT_NE(h_.get(), INVALID_HANDLE_VALUE) << GetLastError();
        port_ = std::make_unique<CHySerial>(h_.get(), FILE_FLAG_OVERLAPPED);
    }
    hyd::sim::control sim_;
    hyd::unique_handle h_;
    std::unique_ptr<CHySerial> port_;
};

TEST_F(SerialTest, ShortReadsAndTheCancellableBreak) {
    CSerCfg cfg(9600, NOPARITY, ONESTOPBIT, 0, 0);
    cfg.m_settings.timeouts.ReadTotalTimeoutConstant = 300;
    ASSERT_EQ(cfg.Apply(port_.get()), S_OK);
    PurgeComm(h_.get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
    sim_.send({'C', 'B', '?'});
    Sleep(50);
    char buf[8];
    ULONG n = 99;
    EXPECT_EQ(port_->Read(buf, 8, &n), S_OK); // the port's time-out: a short read, not a failure
    EXPECT_EQ(std::string(buf, n), "CB?");

    // Cancel event, result, and how long the line stays in break (ms).
    const hyd::unique_handle quiet(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        set(CreateEventA(nullptr, TRUE, TRUE, nullptr));
    const std::tuple<HANDLE, HRESULT, long, long> rows[] = {
        {nullptr, S_OK, 380, 2000},
        {quiet.get(), S_OK, 380, 2000},
        {set.get(), hyd::HY_E_CANCELLED, 0, 200}};
    for (const auto& [cancel, hr, min_ms, max_ms] : rows) {
        const std::uint64_t from = sim_.next_seq();
        EXPECT_EQ(port_->SendBreak(cancel), hr);
        const auto on = sim_.wait("break_on", 1000, from), off = sim_.wait("break_off", 1000, from);
        ASSERT_TRUE(on && off); // raised and always cleared
        EXPECT_GE(std::stol(off->detail), min_ms);
        EXPECT_LT(std::stol(off->detail), max_ms);
        Sleep(300);
    }
}

TEST_F(SerialTest, ApplyWritesItsSettingsAndOnlyItsOwnDcbFields) {
    DCB before{}; // flow control and characters of someone else's
    before.DCBlength = sizeof before;
    ASSERT_TRUE(GetCommState(h_.get(), &before));
    before.fOutxCtsFlow = before.fOutX = before.fInX = 1;
    before.ByteSize = 7, before.Parity = ODDPARITY, before.XonChar = 0x11, before.XoffChar = 0x13;
    ASSERT_TRUE(SetCommState(h_.get(), &before));
    CSerCfg cfg(19200, EVENPARITY, TWOSTOPBITS, 32768, 128);
    cfg.m_settings.timeouts = {5, 6, 700, 8, 900};
    ASSERT_EQ(cfg.Apply(port_.get()), S_OK);
    DCB a{};
    a.DCBlength = sizeof a;
    ASSERT_TRUE(GetCommState(h_.get(), &a));
    EXPECT_EQ((std::vector<DWORD>{a.BaudRate, a.Parity, a.StopBits, a.ByteSize, a.fOutxCtsFlow,
                                  a.fOutxDsrFlow, a.fDtrControl, a.fRtsControl, a.fOutX, a.fInX,
                                  DWORD(a.XonChar), DWORD(a.XoffChar), a.fBinary}),
              (std::vector<DWORD>{19200, EVENPARITY, TWOSTOPBITS, 8, 0, 0, DTR_CONTROL_ENABLE,
                                  RTS_CONTROL_ENABLE, 0, 0, 0x11, 0x13, before.fBinary}));
    // Wine keeps its own queue sizes (SetupComm succeeds): they show only as Apply's success.
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(h_.get(), &t));
    EXPECT_EQ(std::memcmp(&t, &cfg.m_settings.timeouts, sizeof t), 0);
    CHySerial closed(nullptr, FILE_FLAG_OVERLAPPED); // the first failing call's Win32 error
    EXPECT_EQ(HRESULT_FACILITY(CSerCfg(9600, 0, 0, 0, 0).Apply(&closed)), FACILITY_WIN32);
    EXPECT_EQ(HRESULT_FACILITY(closed.SendBreak(nullptr)), FACILITY_WIN32);
}

} // namespace
