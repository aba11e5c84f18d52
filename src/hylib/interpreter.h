// The rules of the instrument family's dialogue: line terminator, end of a reply, success of a
// reply, commands a command file may not hold, the wake-up and the commands the module generates.
// Stateless; one per device-control call.
#pragma once

#include "hylib/hycmd.h"

#include <cstdint>
#include <string>

namespace hyd {

class CCmdInterpreter {
  public:
    virtual ~CCmdInterpreter() = default;
    virtual hresult WakeUp(port* p, long* pMode, log_window* plw, cancel_ref hEvent) = 0;
    virtual bool IsAllowed(CHyCmd* command) = 0;
    // May cut the terminator off the reply.
    virtual bool IsReplyComplete(std::string& reply, long mode, CHyCmd* command) = 0;
    virtual bool IsReplyOk(CHyCmd* command, long mode) = 0;
    virtual bool DecodeMode(CHyCmd* command, long* pMode) = 0;
    virtual void GetTerminator(std::string& out) = 0;
    virtual hresult SendGenerated(std::uint32_t flags, std::uint32_t mask, const char* pszName,
                                  port* p, long* pMode, log_window* plw, cancel_ref hEvent) = 0;
};

class CSNCmdInterpreter final : public CCmdInterpreter {
  public:
    hresult WakeUp(port* p, long* pMode, log_window* plw, cancel_ref hEvent) override;
    // CS and CB (any case) are the module's own: the set sends cs itself, CB belongs to settings.
    bool IsAllowed(CHyCmd* command) override;
    bool IsReplyComplete(std::string& reply, long mode, CHyCmd* command) override;
    bool IsReplyOk(CHyCmd* command, long mode) override;
    bool DecodeMode(CHyCmd* command, long* pMode) override;
    void GetTerminator(std::string& out) override;
    // CF with the flag template, RN name when a name is given, then cs (which starts pinging).
    hresult SendGenerated(std::uint32_t flags, std::uint32_t mask, const char* pszName, port* p,
                          long* pMode, log_window* plw, cancel_ref hEvent) override;
};

// The CF template: character i stands for bit 4 - i, '0'/'1' where mask has the bit, else 'X'.
std::string cf_template(std::uint32_t flags, std::uint32_t mask);

} // namespace hyd
