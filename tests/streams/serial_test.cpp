// The serial stream and the settings object on a Wine COM port mapped to the simulated
// instrument's pty: cancellable byte reads, time-outs, writes, both break forms and Apply, each
// checked from the simulator's side of the line.
#include "common/result_codes.h"
#include "common/win_raii_win.h"
#include "streams/hyserial_win.h"
#include "streams/sercfg_win.h"
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

using hyd::unique_handle;

std::vector<std::uint8_t> bytes_of(const std::string& s) {
    return {s.begin(), s.end()};
}

unique_handle event(BOOL signalled = FALSE) {
    return unique_handle(CreateEventA(nullptr, TRUE, signalled, nullptr));
}

// How one overlapped read of the Win32-shaped face ended.
enum class ReadEnd { data, timed_out, cancelled, failed };

class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* port = std::getenv("HYD_SIM_PORT");
        ASSERT_NE(port, nullptr) << "run through the simulator bench";
        h_.reset(CreateFileA((std::string("\\\\.\\") + port).c_str(), GENERIC_READ | GENERIC_WRITE,
                             0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        ASSERT_NE(h_.get(), INVALID_HANDLE_VALUE) << GetLastError();
        port_ = std::make_unique<CHySerial>(h_.get(), FILE_FLAG_OVERLAPPED);
        ASSERT_EQ(CSerCfg(9600, NOPARITY, ONESTOPBIT, 0, 0).Apply(port_.get()), S_OK);
        set_timeouts(2000);
        PurgeComm(h_.get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
    }
    void set_timeouts(DWORD total) {
        COMMTIMEOUTS t{0, 0, total, 0, 2000};
        ASSERT_TRUE(SetCommTimeouts(h_.get(), &t));
    }
    // One read with the caller's own OVERLAPPED, ended by the data, the port's time-out or the
    // cancel event, as the instrument dialogue reads.
    ReadEnd read(void* buf, DWORD count, DWORD* done, HANDLE cancel) {
        const unique_handle io = event();
        OVERLAPPED ov{};
        ov.hEvent = io.get();
        if (port_->ReadFile(buf, count, done, &ov))
            return *done ? ReadEnd::data : ReadEnd::timed_out;
        if (GetLastError() != ERROR_IO_PENDING) return ReadEnd::failed;
        HANDLE both[2] = {io.get(), cancel};
        if (WaitForMultipleObjects(2, both, FALSE, 10000) != WAIT_OBJECT_0) {
            CancelIoEx(h_.get(), &ov); // withdrawn, or it had just completed: either way it is over
            if (port_->GetOverlappedResult(&ov, done, TRUE)) return ReadEnd::data;
            return GetLastError() == ERROR_OPERATION_ABORTED ? ReadEnd::cancelled : ReadEnd::failed;
        }
        if (port_->GetOverlappedResult(&ov, done, FALSE))
            return *done == count ? ReadEnd::data : ReadEnd::timed_out; // Windows: TRUE, short
        return GetLastError() == ERROR_TIMEOUT ? ReadEnd::timed_out : ReadEnd::failed; // Wine
    }

    hyd::sim::control sim_;
    unique_handle h_;
    std::unique_ptr<CHySerial> port_;
};

TEST_F(SerialTest, ByteReadsCancelsAndTimeouts) {
    const unique_handle quiet = event(), cancelled = event(TRUE);
    sim_.send(bytes_of("HY I>"));
    char buf[8] = {};
    DWORD done = 0;
    for (int i = 0; i < 5; ++i) ASSERT_EQ(read(buf + i, 1, &done, quiet.get()), ReadEnd::data);
    EXPECT_EQ(std::string(buf, 5), "HY I>");
    EXPECT_EQ(read(buf, 1, &done, cancelled.get()), ReadEnd::cancelled); // withdrawn at once
    sim_.send(bytes_of("Z"));
    EXPECT_EQ(read(buf, 1, &done, quiet.get()), ReadEnd::data);
    EXPECT_EQ(buf[0], 'Z'); // nothing of the withdrawn read lingers

    set_timeouts(300);
    const DWORD start = GetTickCount();
    EXPECT_EQ(read(buf, 1, &done, quiet.get()), ReadEnd::timed_out);
    EXPECT_GE(GetTickCount() - start, 250u);
    // The stream's own reads wait themselves: a time-out is a short read, not a failure.
    sim_.send(bytes_of("CB?"));
    Sleep(50);
    ULONG n = 99;
    EXPECT_EQ(port_->Read(buf, 8, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "CB?");
}

TEST_F(SerialTest, WritesAndBothBreakForms) {
    sim_.set("silence", "1");
    std::uint64_t from = sim_.next_seq();
    DWORD done = 0;
    ULONG n = 0;
    ASSERT_TRUE(port_->WriteFile("CK\r", 3, &done, nullptr));
    EXPECT_EQ(port_->Write("RN name\r", 8, &n), S_OK);
    EXPECT_EQ(done + n, 11u);
    std::vector<std::uint8_t> got;
    for (int i = 0; i < 100 && got.size() < 11; ++i, Sleep(20)) got = sim_.received(from);
    EXPECT_EQ(got, bytes_of("CK\rRN name\r"));
    sim_.set("silence", "0");

    // Cancel event, result, and how long the line stays in break (ms).
    const unique_handle quiet = event(), already = event(TRUE), later = event();
    const HANDLE q = quiet.get(), a = already.get(), l = later.get();
    constexpr HRESULT cancelled = hyd::HY_E_CANCELLED;
    const std::tuple<HANDLE, HRESULT, long, long> rows[] = {{nullptr, S_OK, 380, 2000},
                                                            {q, S_OK, 380, 2000},
                                                            {l, cancelled, 50, 380},
                                                            {a, cancelled, 0, 200}};
    for (const auto& [cancel, hr, min_ms, max_ms] : rows) {
        from = sim_.next_seq();
        std::thread other([&] { Sleep(100), SetEvent(later.get()); });
        EXPECT_EQ(port_->SendBreak(cancel), hr);
        other.join();
        const auto on = sim_.wait("break_on", 1000, from), off = sim_.wait("break_off", 1000, from);
        ASSERT_TRUE(on && off); // raised and always cleared
        EXPECT_GE(std::stol(off->detail), min_ms);
        EXPECT_LT(std::stol(off->detail), max_ms);
        ResetEvent(later.get());
        Sleep(300);
    }
    port_->m_nBreakType = 1; // the break string: the cancel event is not looked at
    from = sim_.next_seq();
    EXPECT_EQ(port_->SendBreak(already.get()), S_OK);
    ASSERT_TRUE(sim_.wait("wakeup", 2000, from));
    EXPECT_EQ(sim_.received(from), bytes_of("======="));
    EXPECT_FALSE(sim_.wait("break_on", 0, from));
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
    const std::uint64_t from = sim_.next_seq();
    ASSERT_EQ(cfg.Apply(port_.get()), S_OK);
    bool seen = false; // the line as the simulator saw it set
    for (const auto& e : sim_.events(from))
        seen = seen || (e.kind == "line" && e.detail == "19200 E 2 8");
    EXPECT_TRUE(seen);
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
    ASSERT_EQ(CSerCfg(4800, NOPARITY, ONESTOPBIT, 0, 0).Apply(port_.get()), S_OK);
    ASSERT_TRUE(GetCommTimeouts(h_.get(), &t));
    EXPECT_EQ(t.ReadTotalTimeoutConstant * 1000 + t.WriteTotalTimeoutConstant, 4000u * 1000 + 500);
    CHySerial closed(nullptr, FILE_FLAG_OVERLAPPED); // the first failing call's Win32 error
    EXPECT_EQ(HRESULT_FACILITY(CSerCfg(9600, 0, 0, 0, 0).Apply(&closed)), FACILITY_WIN32);
    EXPECT_EQ(HRESULT_FACILITY(closed.SendBreak(nullptr)), FACILITY_WIN32);
}

} // namespace
