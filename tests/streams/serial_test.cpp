// The serial stream and the settings object on a Wine COM port mapped to the simulated
// instrument's pty: cancellable byte reads, time-outs, writes, both break forms and Apply, each
// checked from the simulator's side of the line.
#include "common/result_codes.h"
#include "streams/hyserial_win.h"
#include "streams/sercfg_win.h"
#include "support/sim_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// An event handle that closes itself.
struct Event {
    explicit Event(BOOL signalled = FALSE) : h(CreateEventA(nullptr, TRUE, signalled, nullptr)) {}
    ~Event() { CloseHandle(h); }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE h;
};

// What a reader of the Win32-shaped face sees of one overlapped read.
enum class ReadEnd { data, timed_out, cancelled, failed };

class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* port = std::getenv("HYD_SIM_PORT");
        ASSERT_NE(port, nullptr) << "run through the simulator bench";
        sim_ = std::make_unique<hyd::sim::control>();
        const std::string name = std::string("\\\\.\\") + port;
        h_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(h_, INVALID_HANDLE_VALUE) << "open " << name << ": " << GetLastError();
        // The line the simulator answers on, and bounded time-outs for every read.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        ASSERT_TRUE(GetCommState(h_, &dcb));
        dcb.BaudRate = 9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        ASSERT_TRUE(SetCommState(h_, &dcb));
        set_timeouts(0, 2000);
        PurgeComm(h_, PURGE_RXCLEAR | PURGE_TXCLEAR);
        port_ = std::make_unique<CHySerial>(h_, FILE_FLAG_OVERLAPPED);
    }

    void TearDown() override {
        port_.reset();
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }

    void set_timeouts(DWORD interval, DWORD total) {
        COMMTIMEOUTS t{interval, 0, total, 0, 2000};
        ASSERT_TRUE(SetCommTimeouts(h_, &t));
    }

    // One overlapped read on the stream's Win32 face with the caller's own record, ended by the
    // data, the port's time-out or the cancel event, the way the instrument dialogue reads.
    ReadEnd read(void* buf, DWORD count, DWORD* done, HANDLE cancel, DWORD wait_ms = 10000) {
        *done = 0;
        Event io;
        OVERLAPPED ov{};
        ov.hEvent = io.h;
        if (port_->ReadFile(buf, count, done, &ov))
            return *done ? ReadEnd::data : ReadEnd::timed_out;
        if (GetLastError() != ERROR_IO_PENDING) return ReadEnd::failed;
        HANDLE both[2] = {cancel, io.h};
        const DWORD first = cancel ? 0 : 1;
        const DWORD w = WaitForMultipleObjects(2 - first, both + first, FALSE, wait_ms);
        if (cancel && w == WAIT_OBJECT_0) {
            CancelIoEx(h_, &ov);
            // The read is withdrawn, or it had just completed: either way it is over.
            if (port_->GetOverlappedResult(&ov, done, TRUE)) return ReadEnd::data;
            return GetLastError() == ERROR_OPERATION_ABORTED ? ReadEnd::cancelled : ReadEnd::failed;
        }
        if (w != WAIT_OBJECT_0 + (cancel ? 1 : 0)) {
            CancelIoEx(h_, &ov);
            port_->GetOverlappedResult(&ov, done, TRUE);
            return ReadEnd::failed;
        }
        if (port_->GetOverlappedResult(&ov, done, FALSE))
            return *done == count ? ReadEnd::data : ReadEnd::timed_out; // Windows: TRUE, short
        return GetLastError() == ERROR_TIMEOUT ? ReadEnd::timed_out : ReadEnd::failed; // Wine
    }

    std::string read_text(DWORD count) {
        std::string s(count, '\0');
        DWORD done = 0;
        EXPECT_EQ(read(s.data(), count, &done, nullptr), ReadEnd::data);
        s.resize(done);
        return s;
    }

    HANDLE h_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<hyd::sim::control> sim_;
    std::unique_ptr<CHySerial> port_;
};

TEST_F(SerialTest, WrapsTheHostHandleAsACommDevice) {
    EXPECT_EQ(port_->GetHandle(), h_);
    EXPECT_EQ(port_->GetOpenFlags(), static_cast<DWORD>(FILE_FLAG_OVERLAPPED));
    EXPECT_TRUE(port_->IsCommDevice());
    EXPECT_EQ(port_->m_nBreakType, 0);
    IStream* s = port_.get();
    LARGE_INTEGER zero{};
    ULARGE_INTEGER size{};
    STATSTG st{};
    EXPECT_EQ(s->Seek(zero, STREAM_SEEK_SET, nullptr), E_NOTIMPL);
    EXPECT_EQ(s->SetSize(size), E_NOTIMPL);
    EXPECT_EQ(s->Stat(&st, 0), E_NOTIMPL);
    EXPECT_EQ(s->Commit(0), E_NOTIMPL);
    void* p = nullptr;
    EXPECT_EQ(s->QueryInterface(IID_IStream, &p), S_OK);
    EXPECT_EQ(p, static_cast<void*>(s));
    EXPECT_EQ(s->Release(), 1u);

    port_.reset(); // the host's handle outlives the stream
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(h_, &dcb));
}

TEST_F(SerialTest, ByteReadsDeliverWhatTheInstrumentSends) {
    Event cancel;
    sim_->send(bytes_of("HY I>"));
    std::string got;
    for (int i = 0; i < 5; ++i) {
        char c = 0;
        DWORD done = 0;
        ASSERT_EQ(read(&c, 1, &done, cancel.h), ReadEnd::data) << "byte " << i;
        ASSERT_EQ(done, 1u);
        got += c;
    }
    EXPECT_EQ(got, "HY I>");
}

TEST_F(SerialTest, AlreadySignalledCancelWithdrawsTheRead) {
    Event cancel(TRUE);
    char c = 0;
    DWORD done = 0;
    EXPECT_EQ(read(&c, 1, &done, cancel.h), ReadEnd::cancelled);
    EXPECT_EQ(done, 0u);
    // Nothing of the withdrawn read lingers: the next byte goes to the next read.
    sim_->send(bytes_of("Z"));
    EXPECT_EQ(read_text(1), "Z");
}

TEST_F(SerialTest, CancelWhileWaitingEndsTheRead) {
    set_timeouts(0, 8000);
    Event cancel;
    std::thread other([&] {
        Sleep(300);
        SetEvent(cancel.h);
    });
    char c = 0;
    DWORD done = 0;
    const DWORD start = GetTickCount();
    const ReadEnd end = read(&c, 1, &done, cancel.h);
    const DWORD took = GetTickCount() - start;
    other.join();
    EXPECT_EQ(end, ReadEnd::cancelled);
    EXPECT_GE(took, 250u);  // not before the signal
    EXPECT_LT(took, 8000u); // and well before the port's own time-out
    sim_->send(bytes_of("ok"));
    EXPECT_EQ(read_text(2), "ok");
}

TEST_F(SerialTest, ReadEndsAtThePortTotalTimeout) {
    set_timeouts(0, 300);
    Event cancel;
    char buf[4] = {};
    DWORD done = 0;
    const DWORD start = GetTickCount();
    EXPECT_EQ(read(buf, 1, &done, cancel.h), ReadEnd::timed_out);
    EXPECT_GE(GetTickCount() - start, 250u);
    EXPECT_EQ(done, 0u);

    // A partial answer: the bytes that came are counted when the time-out ends the read.
    sim_->send(bytes_of("ab"));
    Sleep(50);
    EXPECT_EQ(read(buf, 4, &done, cancel.h), ReadEnd::timed_out);
    EXPECT_EQ(std::string(buf, done), "ab");
}

TEST_F(SerialTest, IStreamReadOnAPortReturnsWhatCameByTheTimeout) {
    // The stream waits itself here; a time-out is a short read, not a failure.
    set_timeouts(0, 300);
    IStream* s = port_.get();
    char buf[8] = {};
    ULONG n = 99;
    EXPECT_EQ(s->Read(buf, 1, &n), S_OK);
    EXPECT_EQ(n, 0u);

    sim_->send(bytes_of("CB?"));
    Sleep(50);
    EXPECT_EQ(s->Read(buf, 8, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "CB?");

    sim_->send(bytes_of("1234"));
    EXPECT_EQ(s->Read(buf, 4, &n), S_OK);
    EXPECT_EQ(std::string(buf, n), "1234");
}

TEST_F(SerialTest, WritesReachTheInstrument) {
    sim_->set("silence", "1");
    const std::uint64_t from = sim_->next_seq();
    DWORD done = 0;
    ASSERT_TRUE(port_->WriteFile("CK\r", 3, &done, nullptr));
    EXPECT_EQ(done, 3u);
    ULONG n = 0;
    EXPECT_EQ(static_cast<IStream*>(port_.get())->Write("RN name\r", 8, &n), S_OK);
    EXPECT_EQ(n, 8u);
    // Bytes written by the caller's own record.
    Event io;
    OVERLAPPED ov{};
    ov.hEvent = io.h;
    if (!port_->WriteFile("CF?\r", 4, &done, &ov)) {
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        ASSERT_TRUE(port_->GetOverlappedResult(&ov, &done, TRUE));
    }
    EXPECT_EQ(done, 4u);

    const Bytes want = bytes_of("CK\rRN name\rCF?\r");
    Bytes got;
    for (int i = 0; i < 100 && got.size() < want.size(); ++i) {
        got = sim_->received(from);
        if (got.size() < want.size()) Sleep(20);
    }
    EXPECT_EQ(got, want);
}

TEST_F(SerialTest, LineBreakHeldFor400ms) {
    const std::uint64_t from = sim_->next_seq();
    EXPECT_EQ(port_->SendBreak(nullptr), S_OK);
    auto on = sim_->wait("break_on", 1000, from);
    auto off = sim_->wait("break_off", 1000, from);
    ASSERT_TRUE(on && off);
    const long held = std::stol(off->detail);
    EXPECT_GE(held, 380);
    EXPECT_LT(held, 2000);
    // Whatever the instrument says to the break is its own business; the line is usable again.
    ASSERT_TRUE(sim_->wait("wakeup", 2000, from));
}

TEST_F(SerialTest, LineBreakWithAQuietCancelEventRunsItsCourse) {
    Event cancel;
    const std::uint64_t from = sim_->next_seq();
    EXPECT_EQ(port_->SendBreak(cancel.h), S_OK);
    auto off = sim_->wait("break_off", 1000, from);
    ASSERT_TRUE(off);
    EXPECT_GE(std::stol(off->detail), 380);
}

TEST_F(SerialTest, CancelDuringTheBreakEndsItEarlyAndStillClearsIt) {
    Event cancel;
    std::thread other([&] {
        Sleep(100);
        SetEvent(cancel.h);
    });
    const std::uint64_t from = sim_->next_seq();
    EXPECT_EQ(port_->SendBreak(cancel.h), hyd::HY_E_CANCELLED);
    other.join();
    auto on = sim_->wait("break_on", 1000, from);
    auto off = sim_->wait("break_off", 1000, from);
    ASSERT_TRUE(on && off);
    EXPECT_LT(std::stol(off->detail), 380);
}

TEST_F(SerialTest, AlreadySignalledCancelStillRaisesAndClearsTheBreak) {
    Event cancel(TRUE);
    const std::uint64_t from = sim_->next_seq();
    EXPECT_EQ(port_->SendBreak(cancel.h), hyd::HY_E_CANCELLED);
    auto on = sim_->wait("break_on", 1000, from);
    auto off = sim_->wait("break_off", 1000, from);
    ASSERT_TRUE(on && off);
    EXPECT_LT(std::stol(off->detail), 200);
    EXPECT_EQ(sim_->state()["breaks"], "1");
}

TEST_F(SerialTest, BreakStringIsSevenEqualsSigns) {
    port_->m_nBreakType = 1;
    Event cancel(TRUE); // not looked at by this form
    const std::uint64_t from = sim_->next_seq();
    EXPECT_EQ(port_->SendBreak(cancel.h), S_OK);
    ASSERT_TRUE(sim_->wait("wakeup", 2000, from));
    const Bytes got = sim_->received(from);
    EXPECT_EQ(got, bytes_of("======="));
    EXPECT_FALSE(sim_->wait("break_on", 0, from));
    // The instrument answers the wake-up with its banner and prompt.
    std::string banner;
    set_timeouts(0, 1000);
    for (int i = 0; i < 400 && banner.find("\r\n>") == std::string::npos; ++i) {
        char c;
        DWORD done = 0;
        if (read(&c, 1, &done, nullptr) != ReadEnd::data) break;
        banner += c;
    }
    EXPECT_NE(banner.find("HY I"), std::string::npos) << banner;
}

TEST_F(SerialTest, ApplyPutsEvenParityAndTwoStopBitsOnTheLine) {
    CSerCfg cfg(19200, EVENPARITY, TWOSTOPBITS, 32768, 128);
    cfg.m_settings.timeouts = {5, 6, 700, 8, 900};
    const std::uint64_t from = sim_->next_seq();
    ASSERT_EQ(cfg.Apply(port_.get()), S_OK);

    // Seen from the simulator: the call that set the line, and the line it ended with.
    bool seen = false;
    for (const auto& e : sim_->events(from))
        seen = seen || (e.kind == "line" && e.detail == "19200 E 2 8");
    EXPECT_TRUE(seen) << "no line event '19200 E 2 8'";
    auto st = sim_->state();
    EXPECT_EQ(st["host_baud"], "19200");
    EXPECT_EQ(st["host_parity"], "E");
    EXPECT_EQ(st["host_stop"], "2");
    EXPECT_EQ(st["host_data"], "8");

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(h_, &dcb));
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
    EXPECT_EQ(dcb.fOutxDsrFlow, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);

    // Wine accepts SetupComm but keeps its own queue sizes (GetCommProperties reports 4096 both
    // ways), so the queue sizes show only as Apply's success.
    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(h_, &t));
    EXPECT_EQ(t.ReadIntervalTimeout, 5u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 6u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 700u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 8u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 900u);
}

TEST_F(SerialTest, ApplyChangesOnlyItsOwnDcbFields) {
    // Flow control and abort-on-error set by someone else are switched off; the members Apply
    // does not own keep what the port had.
    DCB before{};
    before.DCBlength = sizeof before;
    ASSERT_TRUE(GetCommState(h_, &before));
    before.fOutxCtsFlow = 1;
    before.fOutX = 1;
    before.fInX = 1;
    before.ByteSize = 7;
    before.Parity = ODDPARITY;
    before.XonChar = 0x11;
    before.XoffChar = 0x13;
    ASSERT_TRUE(SetCommState(h_, &before));
    ASSERT_TRUE(GetCommState(h_, &before));
    // The port holds what Apply has to undo (Wine reports DTR and RTS as enabled
    // whatever was set, so those two are only checked afterwards).
    ASSERT_EQ(before.fOutxCtsFlow, 1u);
    ASSERT_EQ(before.fOutX, 1u);
    ASSERT_EQ(before.fInX, 1u);
    ASSERT_EQ(before.ByteSize, 7);
    ASSERT_EQ(before.Parity, ODDPARITY);

    CSerCfg cfg(4800, NOPARITY, ONESTOPBIT, 0, 0);
    ASSERT_EQ(cfg.Apply(port_.get()), S_OK);
    DCB after{};
    after.DCBlength = sizeof after;
    ASSERT_TRUE(GetCommState(h_, &after));
    EXPECT_EQ(after.BaudRate, 4800u);
    EXPECT_EQ(after.Parity, NOPARITY);
    EXPECT_EQ(after.StopBits, ONESTOPBIT);
    EXPECT_EQ(after.ByteSize, 8);
    EXPECT_EQ(after.fOutxCtsFlow, 0u);
    EXPECT_EQ(after.fOutX, 0u);
    EXPECT_EQ(after.fInX, 0u);
    EXPECT_EQ(after.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
    EXPECT_EQ(after.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(after.fBinary, before.fBinary);
    EXPECT_EQ(after.XonChar, before.XonChar);
    EXPECT_EQ(after.XoffChar, before.XoffChar);
    auto st = sim_->state();
    EXPECT_EQ(st["host_baud"], "4800");
    EXPECT_EQ(st["host_parity"], "N");
    EXPECT_EQ(st["host_data"], "8");

    COMMTIMEOUTS t{};
    ASSERT_TRUE(GetCommTimeouts(h_, &t));
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 4000u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 500u);
}

TEST_F(SerialTest, HungUpLineFailsStreamReadsAndWrites) {
    // Line errors that ClearCommError would report cannot happen on a pty, and Wine reports none;
    // what the bench can do is drop the line, which fails the transfer itself.
    set_timeouts(0, 300);
    sim_->hangup();
    ASSERT_TRUE(sim_->wait("hangup", 1000));
    IStream* s = port_.get();
    char buf[8];
    ULONG n = 77;
    EXPECT_EQ(s->Read(buf, 8, &n), E_FAIL);
    EXPECT_EQ(n, 77u); // untouched on failure
    EXPECT_EQ(s->Write("CK\r", 3, &n), E_FAIL);
    EXPECT_EQ(n, 77u);
}

TEST_F(SerialTest, ApplyOnAClosedStreamReportsTheWin32Error) {
    CHySerial closed(nullptr, FILE_FLAG_OVERLAPPED);
    CSerCfg cfg(9600, 0, 0, 0, 0);
    const HRESULT hr = cfg.Apply(&closed);
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
}

TEST_F(SerialTest, BreakOnAClosedStreamReportsTheWin32Error) {
    CHySerial closed(nullptr, FILE_FLAG_OVERLAPPED);
    const HRESULT hr = closed.SendBreak(nullptr);
    EXPECT_EQ(HRESULT_FACILITY(hr), FACILITY_WIN32) << std::hex << hr;
    closed.m_nBreakType = 1;
    EXPECT_EQ(closed.SendBreak(nullptr), E_FAIL);
}

} // namespace
