// Cryptographic random bytes from the operating system (platform layer).
#pragma once

#include <cstddef>
#include <cstdint>

namespace cardread {

// Fills `n` bytes; false if the system generator failed.
bool fillRandom(std::uint8_t* out, std::size_t n);

}  // namespace cardread
