// Small text helpers shared by the simulator: the value encoding of the control protocol and the
// hex form of byte events.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hydsim {

// Values travel as single words: '%', blanks, control and non-ASCII bytes become %XX.
std::string encode_value(std::string_view raw);
std::string decode_value(std::string_view word);

std::string to_hex(const std::uint8_t* data, std::size_t size);
// Empty result and false for an odd length or a non-hex character.
bool from_hex(std::string_view text, std::vector<std::uint8_t>& out);

std::vector<std::string> split_words(std::string_view line);

} // namespace hydsim
