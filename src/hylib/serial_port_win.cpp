#include "hylib/serial_port_win.h"

#include "common/hy_exception.h"

namespace hyd {

namespace {

[[noreturn]] void throw_last_error() {
    throw_platform(GetLastError());
}

// Withdraws a pending read so that neither its buffer nor its event is used after it.
void withdraw(CHySerial* port, OVERLAPPED* ov) {
    CancelIoEx(port->GetHandle(), ov);
    DWORD ignored = 0;
    port->GetOverlappedResult(ov, &ignored, TRUE);
}

// Waits for a pending read; throws as ReadByte does, the read withdrawn first.
void wait_for_read(CHySerial* port, OVERLAPPED* ov, HANDLE events[2]) {
    if (events[0]) {
        // The cancel event stands first: it wins when both are signalled.
        const DWORD w = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (w == WAIT_OBJECT_0 + 1) return;
        const DWORD error = GetLastError();
        withdraw(port, ov);
        if (w == WAIT_OBJECT_0) throw_module(HY_E_CANCELLED);
        throw_platform(error);
    }
    COMMTIMEOUTS timeouts{};
    if (!GetCommTimeouts(port->GetHandle(), &timeouts)) {
        withdraw(port, ov);
        throw CHyException("HYCMD", 670);
    }
    const DWORD limit = timeouts.ReadTotalTimeoutMultiplier + timeouts.ReadTotalTimeoutConstant;
    const DWORD w = WaitForSingleObject(events[1], limit ? limit : INFINITE);
    if (w == WAIT_OBJECT_0) return;
    const DWORD error = GetLastError();
    withdraw(port, ov);
    if (w == WAIT_TIMEOUT) throw_module(HY_E_TIMEOUT);
    throw_platform(error);
}

} // namespace

void ReadByte(CHySerial* port, unsigned char* pByte, HANDLE events[2]) {
    DWORD done = 0;
    OVERLAPPED ov{};
    ov.hEvent = events[1];
    if (port->ReadFile(pByte, 1, &done, &ov)) {
        if (events[0]) {
            const DWORD w = WaitForSingleObject(events[0], 0);
            if (w == WAIT_OBJECT_0) throw_module(HY_E_CANCELLED);
            if (w == WAIT_FAILED) throw_last_error();
        }
    } else {
        if (GetLastError() != ERROR_IO_PENDING) throw_last_error();
        wait_for_read(port, &ov, events);
        if (!port->GetOverlappedResult(&ov, &done, TRUE)) {
            // Wine ends a read at the port's total time-out with ERROR_TIMEOUT where Windows
            // completes it with 0 bytes: both are a time-out.
            if (GetLastError() != ERROR_TIMEOUT) throw_last_error();
            done = 0;
        }
    }
    if (done != 1) throw_module(HY_E_TIMEOUT);
}

bool serial_port::purge_received() {
    return PurgeComm(serial_.GetHandle(), PURGE_RXCLEAR) != FALSE;
}

bool serial_port::write(const std::uint8_t* data, std::uint32_t count, std::uint32_t* done) {
    DWORD moved = 0;
    const BOOL ok = serial_.WriteFile(data, count, &moved, nullptr);
    *done = moved;
    return ok != FALSE;
}

hresult serial_port::open_reads() {
    event_.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    return event_ ? s_ok : hresult_from_win32(GetLastError());
}

std::uint8_t serial_port::read_byte(cancel_ref cancel) {
    HANDLE events[2] = {static_cast<HANDLE>(cancel), event_.get()};
    unsigned char byte = 0;
    ReadByte(&serial_, &byte, events);
    return byte;
}

bool serial_port::clear_errors() {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(serial_.GetHandle(), &errors, &status) != FALSE;
}

} // namespace hyd
