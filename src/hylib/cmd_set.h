// CHyCmdSet: the commands of a command file, played after the wake-up and followed by the
// commands the module generates. Command files are taken byte for byte: a line ends with CR LF,
// an unterminated last line is dropped, empty lines and lines whose first non-blank is ';' or '$'
// are skipped; every other line (a line of blanks too) is one command, sent as written.
#pragma once

#include "common/byte_stream.h"
#include "hylib/hycmd.h"

#include <memory>
#include <vector>

namespace hyd {

class CHyCmdSet {
  public:
    explicit CHyCmdSet(CCmdInterpreter* interpreter) : m_interpreter(interpreter) {}
    virtual ~CHyCmdSet() = default;
    CHyCmdSet(const CHyCmdSet&) = delete;
    CHyCmdSet& operator=(const CHyCmdSet&) = delete;

    // Appends the file's commands; HY_E_IO when a read fails. Opening the file is the caller's:
    // the DLL opens it as a disk-file stream, the tool through the C library.
    virtual hresult LoadFile(byte_stream& file);
    // Wakes the instrument, sends the allowed commands (8501 in the log for each refused one),
    // then, unless bNoGenerated, 8502 and the interpreter's generated commands.
    virtual hresult Execute(std::uint32_t flags, std::uint32_t mask, port* p, log_window* plw,
                            bool bShowLog, cancel_ref hEvent, const char* pszName,
                            bool bNoGenerated);

    const std::vector<std::unique_ptr<CHyCmd>>& commands() const { return m_commands; }

  private:
    void add_line(std::string line);

    CCmdInterpreter* m_interpreter;
    std::vector<std::unique_ptr<CHyCmd>> m_commands;
};

} // namespace hyd
