// Command objects: one exchange with the instrument each. A command sends its line byte by byte
// (reading back the echo in text mode, adding a 16-bit sum in checksum mode), collects the reply
// until the interpreter calls it complete, logs every received byte and judges the reply.
// CHyBrkCmd wakes the instrument; CHyBitsCmd builds a bit-field command from the instrument's
// current value.
#pragma once

#include "hylib/port.h"

#include <string>

namespace hyd {

class CCmdInterpreter;

// Dialogue modes: text (every sent byte is echoed) and checksum (no echo, a sum follows the line).
// Any other value behaves as text mode.
inline constexpr long mode_text = 0;
inline constexpr long mode_checksum = 1;

class CHyCmd {
  public:
    CHyCmd(const char* text, CCmdInterpreter* interpreter);
    // Every byte of text, a NUL included: command-file lines are sent exactly as written.
    CHyCmd(std::string text, CCmdInterpreter* interpreter);
    virtual ~CHyCmd() = default;
    CHyCmd(const CHyCmd&) = delete;
    CHyCmd& operator=(const CHyCmd&) = delete;

    // Returns S_OK, the failing module code, or E_FAIL; never throws.
    virtual hresult Execute(port* p, long mode, log_window* plw, cancel_ref hEvent);
    virtual const char* GetCommand() { return m_command.c_str(); }
    virtual const char* GetReply() { return m_reply.c_str(); }
    // The mode the reply leaves the dialogue in; E_FAIL when there is no reply.
    virtual hresult GetMode(long* pMode);
    virtual bool IsBreak() { return false; }

    // Appends bytes to the reply until the interpreter calls it complete.
    hresult ReadReply(port* p, long mode, log_window* plw, cancel_ref hEvent);

    const std::string& command() const { return m_command; }
    const std::string& reply() const { return m_reply; }

  protected:
    // The reply loop without the catch: throws like read_byte.
    void read_until_complete(port* p, long mode, log_window* plw, cancel_ref hEvent);
    // Appends one received byte, logs it and asks whether the reply is complete.
    bool take(std::uint8_t byte, long mode, log_window* plw);

    CCmdInterpreter* m_interpreter;
    std::string m_command;
    std::string m_reply;
};

// One byte from the port (throws on every failure, as read_byte).
void ReadByte(port* p, unsigned char* pByte, cancel_ref hEvent);

class CHyBrkCmd : public CHyCmd {
  public:
    CHyBrkCmd(CCmdInterpreter* interpreter, long nTries);
    // Breaks in until a reply holds the banner fragment "HY I": HY_E_NOWAKEUP after nTries.
    hresult Execute(port* p, long mode, log_window* plw, cancel_ref hEvent) override;
    // Decided by the banner's last byte; the interpreter is not asked.
    hresult GetMode(long* pMode) override;
    bool IsBreak() override { return true; }

  private:
    long m_tries;
};

class CHyBitsCmd : public CHyCmd {
  public:
    // Queries name + "?" at once and merges the template's '0' and '1' into the current value;
    // other template characters keep the instrument's. Throws the failing code as a long.
    CHyBitsCmd(const char* name, const char* bits, CCmdInterpreter* interpreter, port* p, long mode,
               log_window* plw, cancel_ref hEvent);
};

} // namespace hyd
