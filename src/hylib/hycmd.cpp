#include "hylib/hycmd.h"

#include "common/hy_exception.h"
#include "hylib/dialogue_util.h"
#include "hylib/interpreter.h"

namespace hyd {

namespace {

constexpr int text_continue_question = 8503;

void write_one(port* p, std::uint8_t byte) {
    std::uint32_t done = 0;
    if (!p->write(&byte, 1, &done)) throw_module(HY_E_IO);
    if (done != 1) throw_module(HY_E_TIMEOUT);
}

bool switches_to_checksum(std::uint8_t byte) {
    return byte == 0x06 || byte == 0x15;
}

// Pairs every successful open_reads with its close_reads.
class reads_open {
  public:
    explicit reads_open(port* p) : p_(p) {}
    ~reads_open() { p_->close_reads(); }
    reads_open(const reads_open&) = delete;
    reads_open& operator=(const reads_open&) = delete;

  private:
    port* p_;
};

} // namespace

void ReadByte(port* p, unsigned char* pByte, cancel_ref hEvent) {
    *pByte = p->read_byte(hEvent);
}

CHyCmd::CHyCmd(const char* text, CCmdInterpreter* interpreter)
    : m_interpreter(interpreter), m_command(text ? text : "") {}

CHyCmd::CHyCmd(std::string text, CCmdInterpreter* interpreter)
    : m_interpreter(interpreter), m_command(std::move(text)) {}

bool CHyCmd::take(std::uint8_t byte, long mode, log_window* plw) {
    m_reply += static_cast<char>(byte);
    if (plw) plw->NewCommData(reinterpret_cast<const char*>(&byte), 1);
    return m_interpreter->IsReplyComplete(m_reply, mode, this);
}

hresult CHyCmd::Execute(port* p, long mode, log_window* plw, cancel_ref hEvent) {
    return guarded([&]() -> hresult {
        if (!p->purge_received()) return HY_E_IO;
        m_reply.clear();
        std::string line = m_command;
        std::string terminator;
        m_interpreter->GetTerminator(terminator);
        line += terminator;
        if (failed(p->open_reads())) return e_fail;

        bool complete = false;
        const hresult sent = guarded([&]() -> hresult {
            reads_open reads(p);
            std::uint16_t sum = 0;
            for (const char c : line) {
                const auto byte = static_cast<std::uint8_t>(c);
                write_one(p, byte);
                sum = static_cast<std::uint16_t>(sum + byte);
                if (mode == mode_checksum) continue;
                unsigned char echo = 0;
                ReadByte(p, &echo, hEvent);
                // A reply complete already ends the sending: the rest of the line never goes.
                if ((complete = take(echo, mode, plw))) break;
            }
            if (mode == mode_checksum) {
                write_one(p, static_cast<std::uint8_t>(sum >> 8));
                write_one(p, static_cast<std::uint8_t>(sum & 0xFF));
            }
            return s_ok;
        });
        if (failed(sent)) return sent;
        if (!complete) {
            const hresult hr = ReadReply(p, mode, plw, hEvent);
            if (failed(hr)) return hr;
        }
        if (m_interpreter->IsReplyOk(this, mode)) return s_ok;
        if (equal_ci(m_command, "AX") || !plw) return HY_E_CMDERROR;
        const std::string question =
            fill_text(plw->Text(text_continue_question), "%s", m_reply.c_str());
        return plw->AskContinue(question) ? s_ok : HY_E_CMDERROR;
    });
}

void CHyCmd::read_until_complete(port* p, long mode, log_window* plw, cancel_ref hEvent) {
    if (failed(p->open_reads())) throw CHyException("HYCMD", 743);
    reads_open reads(p);
    for (;;) {
        unsigned char byte = 0;
        ReadByte(p, &byte, hEvent);
        if (take(byte, mode, plw)) return;
    }
}

hresult CHyCmd::ReadReply(port* p, long mode, log_window* plw, cancel_ref hEvent) {
    return guarded([&]() -> hresult {
        read_until_complete(p, mode, plw, hEvent);
        return s_ok;
    });
}

hresult CHyCmd::GetMode(long* pMode) {
    if (m_reply.empty()) return e_fail;
    if (m_interpreter->DecodeMode(this, pMode)) return s_ok;
    *pMode = switches_to_checksum(static_cast<std::uint8_t>(m_reply.front())) ? mode_checksum
                                                                              : mode_text;
    return s_ok;
}

CHyBrkCmd::CHyBrkCmd(CCmdInterpreter* interpreter, long nTries)
    : CHyCmd("N/A", interpreter), m_tries(nTries) {}

hresult CHyBrkCmd::Execute(port* p, long mode, log_window* plw, cancel_ref hEvent) {
    return guarded([&]() -> hresult {
        long tries = m_tries;
        if (!p->purge_received()) return HY_E_IO;
        for (;;) {
            m_reply.clear();
            hresult hr = p->send_break(hEvent);
            if (failed(hr)) return hr;
            if (!p->clear_errors()) return e_fail;
            hr = ReadReply(p, mode, plw, hEvent);
            if (hr == HY_E_CANCELLED) return hr;
            if (succeeded(hr) && m_reply.find("HY I") != std::string::npos) return s_ok;
            if (--tries <= 0) return HY_E_NOWAKEUP;
            if (!p->purge_received()) return HY_E_IO;
        }
    });
}

hresult CHyBrkCmd::GetMode(long* pMode) {
    if (m_reply.empty()) return e_fail;
    *pMode =
        switches_to_checksum(static_cast<std::uint8_t>(m_reply.back())) ? mode_checksum : mode_text;
    return s_ok;
}

CHyBitsCmd::CHyBitsCmd(const char* name, const char* bits, CCmdInterpreter* interpreter, port* p,
                       long mode, log_window* plw, cancel_ref hEvent)
    : CHyCmd("", interpreter) {
    const std::string key(name);
    const std::string pattern(bits);
    CHyCmd query((key + "?").c_str(), interpreter);
    const hresult hr = query.Execute(p, mode, plw, hEvent);
    if (failed(hr)) throw_module(hr);
    const std::string& reply = query.reply();
    std::string found = key + " = ";
    std::size_t at = reply.find(found);
    if (at == std::string::npos) {
        found = key + " ";
        at = reply.find(found);
    }
    if (at == std::string::npos) throw_module(HY_E_CMDERROR);
    const std::size_t start = at + found.size();
    if (reply.size() < start + pattern.size()) throw_module(HY_E_IO);
    std::string value = reply.substr(start, pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i)
        if (pattern[i] == '0' || pattern[i] == '1') value[i] = pattern[i];
    m_command = key + value;
}

} // namespace hyd
