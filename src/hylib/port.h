// What the instrument dialogue needs from a serial port and from its host, and how it reports
// failures. Two ports implement the contract: the Win32 one over the host's HANDLE (CHySerial) and
// the termios one for Linux. Line settings (baud rate, parity) stay outside it: each platform's
// settings code changes them on its own port, between dialogues built on this contract.
#pragma once

#include "common/result_codes.h"

#include <cstdint>
#include <string>

namespace hyd {

// The host's cancel signal in the port's own terms: the Win32 port takes an event HANDLE, the
// termios port a cancel_pipe*. Null: no cancel signal.
using cancel_ref = void*;

// Failures inside the dialogue are thrown: a module code as a long, a platform error as an int
// (0x80070000 | low 16 bits of the error), an internal fault as CHyException. A thrown long is the
// result callers return; anything else becomes E_FAIL.
[[noreturn]] inline void throw_module(hresult hr) {
    throw static_cast<long>(hr);
}
[[noreturn]] inline void throw_platform(std::uint32_t error) {
    throw static_cast<int>(hresult_from_win32(error));
}

class port {
  public:
    virtual ~port() = default;

    // Drops what was received and not yet read. False when that failed.
    virtual bool purge_received() = 0;
    // Writes and blocks until done or the port's write time-out; *done gets the count moved.
    // False when the write failed.
    virtual bool write(const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) = 0;
    // Resources for a run of read_byte calls (the Win32 completion event). open_reads returns
    // S_OK or the platform failure; close_reads follows every successful open_reads.
    virtual hresult open_reads() = 0;
    virtual void close_reads() = 0;
    // One byte within the port's read time-out, the cancel signal winning over a waiting byte.
    // Throws HY_E_CANCELLED or HY_E_TIMEOUT as a long, a platform failure as an int.
    virtual std::uint8_t read_byte(cancel_ref cancel) = 0;
    // The wake-up of the port's break type: a line break held 400 ms (ended early by the cancel
    // signal, HY_E_CANCELLED) or the break string "=======" (E_FAIL when not all of it went).
    virtual hresult send_break(cancel_ref cancel) = 0;
    // Clears the line's error state. False when that failed.
    virtual bool clear_errors() = 0;
    // Whether the cancel signal is raised now; false for a null signal.
    virtual bool cancelled(cancel_ref cancel) = 0;
};

// The host's side of a logged dialogue: its log window, the Yes/No question a failed command asks
// there, and the module's texts shown in both.
class log_window {
  public:
    virtual ~log_window() = default;
    // Every received byte, one call per byte; module messages whole.
    virtual void NewCommData(const char* data, std::uint32_t length) = 0;
    virtual void ShowWindowAsync(long nCmdShow) = 0;
    // The question after a failed command (text 8503 filled in); true for Yes.
    virtual bool AskContinue(const std::string& question) = 0;
    // String-table text by number; the DLL loads its own resources instead.
    virtual std::string Text(int id);
};

} // namespace hyd
