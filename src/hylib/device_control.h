// Device control over a port: what IHyDeviceControl does and what the hyd tool does from Linux.
// Each call builds its interpreter and commands for its own duration; the port's break type
// decides the wake-up (the COM face gives Initialize a line break whatever the host asked).
#pragma once

#include "common/byte_stream.h"
#include "hylib/port.h"

namespace hyd::device {

// Wake-up, the command file's commands (when given), CF with 1111X (automatic) or 0111X keeping
// the instrument's fifth digit, then cs. A command file that cannot be read fails before
// anything is sent.
hresult initialize(port& p, bool automatic, byte_stream* commands, log_window* plw,
                   cancel_ref cancel);
// Logs what the instrument sends up to its prompt, then restarts pinging with cs.
hresult next(port& p, log_window* plw, cancel_ref cancel);
// One break (not logged), then cs.
hresult reset(port& p, log_window* plw, cancel_ref cancel);
// One break, nothing logged: the instrument stops pinging.
hresult close(port& p);
// Two tries of a break, nothing logged: S_OK when the instrument answered, S_FALSE when not.
hresult wake(port& p);

} // namespace hyd::device
