// The dialogue's port over the host's serial handle, wrapped in a CHySerial for one call: writes
// and the wake-up through the stream, overlapped one-byte reads with the host's cancel event,
// PurgeComm and ClearCommError on the handle. Windows code only.
#pragma once

#include "common/win_raii_win.h"
#include "hylib/port.h"
#include "streams/hyserial_win.h"

namespace hyd {

// One byte by an overlapped read (every port of the dialogue is opened overlapped): events[0] is
// the host's cancel event or null, events[1] the completion event of the read. Throws
// HY_E_CANCELLED or HY_E_TIMEOUT as a long, a Win32 failure as an int, and CHyException when the
// port's time-outs cannot be read. A read still pending when it gives up is withdrawn before it
// returns.
void ReadByte(CHySerial* port, unsigned char* pByte, HANDLE events[2]);

class serial_port final : public port {
  public:
    explicit serial_port(CHySerial& serial) : serial_(serial) {}

    bool purge_received() override;
    bool write(const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) override;
    hresult open_reads() override;
    void close_reads() override { event_.reset(); }
    // cancel is the host's event HANDLE.
    std::uint8_t read_byte(cancel_ref cancel) override;
    hresult send_break(cancel_ref cancel) override { return serial_.SendBreak(cancel); }
    bool clear_errors() override;
    bool cancelled(cancel_ref cancel) override {
        return cancel && WaitForSingleObject(static_cast<HANDLE>(cancel), 0) == WAIT_OBJECT_0;
    }

  private:
    CHySerial& serial_;
    unique_handle event_;
};

// The port of one call over the host's handle (overlapped, not owned) with the call's break type.
struct call_port {
    call_port(HANDLE hComm, long breakType) : serial(hComm, FILE_FLAG_OVERLAPPED), port(serial) {
        serial.m_nBreakType = breakType;
    }
    CHySerial serial;
    serial_port port;
};

} // namespace hyd
