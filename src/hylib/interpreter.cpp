#include "hylib/interpreter.h"

#include "hylib/dialogue_util.h"

#include <memory>
#include <string_view>

namespace hyd {

namespace {

constexpr std::size_t reply_limit = 512;

bool begins_ci(std::string_view text, std::string_view two) {
    return text.size() >= two.size() && equal_ci(text.substr(0, two.size()), two);
}

// What ends the reply to a command: cs replies end at the line end, the power-down message has
// its own tail, everything else (the break's "N/A" included) ends at the prompt.
std::string_view reply_end(std::string_view command) {
    if (begins_ci(command, "cs")) return "\r\n";
    if (begins_ci(command, "cz")) return "ING DOWN .....]\r\n";
    return "\r\n>";
}

} // namespace

std::string cf_template(std::uint32_t flags, std::uint32_t mask) {
    std::string t(5, 'X');
    for (int i = 0; i < 5; ++i) {
        const int bit = 4 - i;
        if ((mask >> bit) & 1u) t[i] = static_cast<char>('0' + ((flags >> bit) & 1u));
    }
    return t;
}

hresult CSNCmdInterpreter::WakeUp(port* p, long* pMode, log_window* plw, cancel_ref hEvent) {
    CHyBrkCmd wake(this, 3);
    const hresult hr = wake.Execute(p, *pMode, plw, hEvent);
    if (failed(hr)) return hr;
    return wake.GetMode(pMode);
}

bool CSNCmdInterpreter::IsAllowed(CHyCmd* command) {
    const std::string& text = command->command();
    return !begins_ci(text, "cs") && !begins_ci(text, "cb");
}

bool CSNCmdInterpreter::IsReplyComplete(std::string& reply, long, CHyCmd* command) {
    const std::string_view end = reply_end(command->command());
    if (reply.size() >= end.size() &&
        std::string_view(reply).substr(reply.size() - end.size()) == end) {
        reply.resize(reply.size() - end.size());
        return true;
    }
    return reply.size() > reply_limit;
}

bool CSNCmdInterpreter::IsReplyOk(CHyCmd* command, long) {
    const std::string& text = command->command();
    const std::string& reply = command->reply();
    if (!begins_ci(reply, text)) return false;
    if (equal_ci(text, "AX")) return reply.find(">>> Total error:") != std::string::npos;
    return reply.find("ERR") == std::string::npos;
}

bool CSNCmdInterpreter::DecodeMode(CHyCmd*, long*) {
    return false;
}

void CSNCmdInterpreter::GetTerminator(std::string& out) {
    out = "\r";
}

hresult CSNCmdInterpreter::SendGenerated(std::uint32_t flags, std::uint32_t mask,
                                         const char* pszName, port* p, long* pMode, log_window* plw,
                                         cancel_ref hEvent) {
    // Every thrown failure, the CF? query's included, ends here as E_FAIL.
    try {
        CHyBitsCmd cf("CF", cf_template(flags, mask).c_str(), this, p, *pMode, plw, hEvent);
        std::unique_ptr<CHyCmd> name;
        if (pszName) name = std::make_unique<CHyCmd>(("RN " + std::string(pszName)).c_str(), this);
        CHyCmd start("cs", this);
        for (CHyCmd* c : {static_cast<CHyCmd*>(&cf), name.get(), &start}) {
            if (!c) continue;
            hresult step = c->Execute(p, *pMode, plw, hEvent);
            if (failed(step)) return step;
            step = c->GetMode(pMode);
            if (failed(step)) return step;
        }
        return s_ok;
    } catch (...) {
        return e_fail;
    }
}

} // namespace hyd
