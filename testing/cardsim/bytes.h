// Byte strings and their hexadecimal text, as the simulator's options and log use them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cardsim {

using Bytes = std::vector<std::uint8_t>;

// Upper-case hex without separators ("80A40000023F00").
std::string toHex(const Bytes& bytes);

// Hex digits in either case; blanks and colons between digit pairs are allowed so card
// descriptions can be written readably. Odd digit counts and other characters give nullopt.
std::optional<Bytes> fromHex(const std::string& text);

// Appends the status word SW1 SW2.
void appendStatus(Bytes& response, std::uint16_t sw);

}  // namespace cardsim
