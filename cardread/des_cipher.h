// DES and two-key triple DES with the ECB, CBC, padding and CBC-MAC forms the card uses.
// Blocks are 8 bytes; a triple-DES key is 16 bytes, K1 then K2.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/secret.h"

namespace cardread {

constexpr std::size_t kDesBlockSize = 8;
constexpr std::size_t kDesKeySize = 8;
constexpr std::size_t kTripleDesKeySize = 16;

// Single DES, in place.
void desEncryptBlock(std::uint8_t block[kDesBlockSize], const std::uint8_t key[kDesKeySize]);
void desDecryptBlock(std::uint8_t block[kDesBlockSize], const std::uint8_t key[kDesKeySize]);

// E(K1, D(K2, E(K1, block))) and its inverse, in place.
void tripleDesEncryptBlock(std::uint8_t block[kDesBlockSize],
                           const std::uint8_t key[kTripleDesKeySize]);
void tripleDesDecryptBlock(std::uint8_t block[kDesBlockSize],
                           const std::uint8_t key[kTripleDesKeySize]);

// The plaintext of ecbDecryptUnpad: a buffer of n + 8 bytes, wiped when released, and the
// length of the plaintext in it.
struct UnpaddedPlaintext {
    common::SecretBytes bytes;
    long length = -1;  // -1: not a multiple of 8, or the 80 00.. padding is wrong
};

// Deciphers n bytes block by block (ECB) and strips the 80 00.. padding.
UnpaddedPlaintext ecbDecryptUnpad(const std::uint8_t* data, std::size_t n,
                                  const std::uint8_t key[kTripleDesKeySize]);

// Pads with p bytes of value p (1 to 8) and enciphers in CBC mode, in place. `data` must have
// room for `length` rounded up to the next multiple of 8 above it; `length` becomes that size.
void cbcEncryptPadded(const std::uint8_t iv[kDesBlockSize], std::uint8_t* data, std::size_t& length,
                      const std::uint8_t key[kTripleDesKeySize]);

// CBC decipherment in place; `length` must be a multiple of 8 (returns false otherwise and
// leaves the data alone). The padding stays for the caller to remove.
bool cbcDecrypt(const std::uint8_t iv[kDesBlockSize], std::uint8_t* data, std::size_t length,
                const std::uint8_t key[kTripleDesKeySize]);

// Full triple-DES CBC-MAC with a final block padded by 8 - r bytes of value 8 - r.
void cbcMac(const std::uint8_t iv[kDesBlockSize], const std::uint8_t* data, std::size_t length,
            const std::uint8_t key[kTripleDesKeySize], std::uint8_t mac[kDesBlockSize]);

}  // namespace cardread
