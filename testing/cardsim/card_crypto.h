// The card's side of the cryptography, done with OpenSSL's two-key triple DES ("des-ede") so
// that it checks the library's own cipher instead of repeating it.
#pragma once

#include <optional>

#include "bytes.h"

namespace cardsim {

constexpr std::size_t kBlockSize = 8;
constexpr std::size_t kKeySize = 16;

// E(K1, D(K2, E(K1, block))) of one 8-byte block.
Bytes encryptBlock(const Bytes& key, const Bytes& block);

// CBC decipherment without padding removal; nullopt if the length is not a multiple of 8.
std::optional<Bytes> cbcDecrypt(const Bytes& key, const Bytes& iv, const Bytes& data);

// CBC encipherment after padding with p bytes of value p (1 to 8).
Bytes cbcEncryptPadded(const Bytes& key, const Bytes& iv, const Bytes& data);

// The card's MAC: the last block of the CBC encipherment of the data padded with p bytes of
// value p, which is the same as chaining full blocks and XORing 8 - r into the final one.
Bytes cbcMac(const Bytes& key, const Bytes& iv, const Bytes& data);

// ECB decipherment and removal of the 80 00.. padding; nullopt on a bad length or padding.
std::optional<Bytes> ecbDecryptUnpad(const Bytes& key, const Bytes& data);

// Cryptographically random bytes (challenges, the R' of protected replies).
Bytes randomBytes(std::size_t n);

}  // namespace cardsim
