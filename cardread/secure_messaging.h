// Secure messaging of the proprietary command family. The class byte says what protects a
// command: bit 0x04 a MAC, bit 0x08 encipherment. R is 8 random bytes that chain both.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardread/status.h"
#include "des_cipher.h"

namespace cardread {

constexpr std::uint8_t kClassMac = 0x04;
constexpr std::uint8_t kClassEncipher = 0x08;
constexpr std::size_t kApduHeaderSize = 5;  // CLA INS P1 P2 Lc

// Protects the command CLA INS P1 P2 Lc data in `command` (`length` bytes, `capacity` room):
// R follows Lc, then the data and MAC, enciphered with initial vector R if asked. Lc and
// `length` grow to match. 0 on success (also when the class asks for no protection);
// 0x20100001 when the command is malformed, the result would not fit, or no random bytes came.
Status wrapCommand(std::uint8_t* command, std::size_t& length, std::size_t capacity,
                   const std::uint8_t macKey[kTripleDesKeySize],
                   const std::uint8_t encKey[kTripleDesKeySize]);

// Turns a protected response R' body SW1 SW2 into data SW1 SW2, deciphering and checking the
// MAC as the class byte says. 0 on success; 0x20100001 on a MAC mismatch or a response whose
// lengths or padding do not add up.
Status unwrapResponse(std::vector<std::uint8_t>& response, std::uint8_t classByte,
                      const std::uint8_t macKey[kTripleDesKeySize],
                      const std::uint8_t encKey[kTripleDesKeySize]);

}  // namespace cardread
