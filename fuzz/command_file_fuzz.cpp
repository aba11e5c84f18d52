// Arbitrary bytes as a command file: every command is one CR LF-ended line that is neither empty
// nor a comment, and how the file arrives in reads does not change what is loaded.
#include "hylib/cmd_set.h"
#include "hylib/interpreter.h"
#include "support/fault_stream.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> load(const std::uint8_t* data, std::size_t size, int short_read_at) {
    hyd::fault_stream file(std::vector<std::uint8_t>(data, data + size));
    file.short_read = short_read_at;
    hyd::CSNCmdInterpreter rules;
    hyd::CHyCmdSet set(&rules);
    if (set.LoadFile(file) != hyd::s_ok) std::abort();
    std::vector<std::string> texts;
    for (const auto& c : set.commands()) texts.push_back(c->command());
    return texts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto texts = load(data, size, 0);
    std::size_t lines = 0;
    const std::string all(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = all.find("\r\n"); at != std::string::npos; at = all.find("\r\n", at + 2))
        ++lines;
    if (texts.size() > lines) std::abort();
    for (const std::string& t : texts) {
        const std::size_t first = t.find_first_not_of(' ');
        if (t.empty() || t.find("\r\n") != std::string::npos ||
            (first != std::string::npos && (t[first] == ';' || t[first] == '$')))
            std::abort();
    }
    if (load(data, size, 1) != texts) std::abort();
    return 0;
}
