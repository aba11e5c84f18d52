// Seeds for command files: comments, skipped lines, blanks, refused commands, stray CR and LF, an
// unterminated last line, and a CR LF split across the reader's 4096-byte reads.
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::vector<std::uint8_t>> make_seeds() {
    const std::string files[] = {
        "; deployment\r\nCF11110\r\nWP00045\r\nTE00:00:05.00\r\nCK\r\n",
        "  ; indented comment\r\n$ skipped\r\n\r\n   \r\ncs\r\nCB411\r\n cs\r\n",
        "AB\rCD\nEF\r\nLF\nonly\nlast line",
        std::string(4095, 'a') + "\r\nB\r\n",
        "\r\n\r\n\r\r\n\n\r",
    };
    std::vector<std::vector<std::uint8_t>> seeds;
    for (const std::string& f : files) seeds.emplace_back(f.begin(), f.end());
    return seeds;
}
