// Finding and changing the instrument's serial settings over a port: what IHyCommSetup does and
// what the hyd tool does from Linux. The search tries baud rates in a fixed order at no parity,
// then at even parity, two tries each, and asks the instrument (CB?) for its parity and stop bits;
// a change sends CB with the new settings and follows with the port. Parities and stop bits are
// the Windows DCB codes (parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one, 2 two).
#pragma once

#include "hylib/port.h"

#include <cstdint>
#include <span>
#include <string>

namespace hyd::setup {

// The instrument's tables, in the order of its CB digits.
inline constexpr std::uint32_t baud_rates[] = {300,   1200,  2400,  4800,  9600,
                                               19200, 38400, 57600, 115200};
inline constexpr std::uint32_t parities[] = {0, 2, 1, 3, 4};
inline constexpr std::uint32_t stop_bits[] = {0, 2};

struct settings {
    std::uint32_t baud = 0;
    std::uint32_t parity = 0;
    std::uint32_t stop_bits = 0;
};

// The port's own line settings, changed between dialogues.
class line_control {
  public:
    virtual ~line_control() = default;
    // The settings with 8 data bits and no flow control; S_OK or the platform's failure.
    virtual hresult apply(const settings& s) = 0;
    // Only the baud rate changes.
    virtual hresult set_baud(std::uint32_t baud) = 0;
};

// Where a search shows how far it got: a progress bar and a line of text.
class search_progress {
  public:
    virtual ~search_progress() = default;
    virtual void range(int low, int high) = 0;
    virtual void position(int attempt) = 0;
    virtual void text(const std::string& text) = 0;
    // String-table text by number; the DLL loads its own resources instead.
    virtual std::string Text(int id);
};

// The first min(cMax, table size) entries into out; their count (0 when cMax <= 0).
long copy_table(std::span<const std::uint32_t> table, std::uint32_t* out, long cMax);

// The settings the instrument reports at the first setting where it answers; the port is left
// there. HY_E_CANCELLED when the cancel signal is seen after a failed wake-up, a line_control
// failure as it came, E_FAIL when no setting answers.
hresult search(port& p, line_control& line, search_progress* progress, cancel_ref cancel,
               settings* found);

// Checks the values against the tables before anything is sent (HY_E_BADBAUD, HY_E_BADPARITY,
// HY_E_BADSTOPBITS), then wakes the instrument, sends CB, applies the settings to the port and
// saves them with CK; the first failure is returned.
hresult change(port& p, line_control& line, const settings& wanted);

} // namespace hyd::setup
