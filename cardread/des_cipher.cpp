#include "des_cipher.h"

#include <cstring>

#include "common/secret.h"
#include "des_tables.h"

namespace cardread {
namespace {

// Picks bits of a value `inWidth` bits wide into a new value, in table order.
std::uint64_t permute(std::uint64_t in, unsigned inWidth, const std::uint8_t* table,
                      unsigned outWidth) {
    std::uint64_t out = 0;
    for (unsigned i = 0; i < outWidth; ++i) {
        out = (out << 1) | ((in >> (inWidth - table[i])) & 1u);
    }
    return out;
}

std::uint64_t load(const std::uint8_t* b) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i) v = (v << 8) | b[i];
    return v;
}

void store(std::uint64_t v, std::uint8_t* b) {
    for (std::size_t i = 8; i-- > 0;) {
        b[i] = static_cast<std::uint8_t>(v);
        v >>= 8;
    }
}

struct Subkeys {
    std::uint64_t k[16];
    ~Subkeys() { common::wipeBytes(k, sizeof k); }
};

void makeSubkeys(const std::uint8_t key[kDesKeySize], Subkeys& sub) {
    const std::uint64_t cd = permute(load(key), 64, kPermutedChoice1, 56);
    std::uint32_t c = static_cast<std::uint32_t>(cd >> 28) & 0x0FFFFFFFu;
    std::uint32_t d = static_cast<std::uint32_t>(cd) & 0x0FFFFFFFu;
    for (int round = 0; round < 16; ++round) {
        for (int r = 0; r < kRotations[round]; ++r) {
            c = ((c << 1) | (c >> 27)) & 0x0FFFFFFFu;
            d = ((d << 1) | (d >> 27)) & 0x0FFFFFFFu;
        }
        const std::uint64_t joined = (static_cast<std::uint64_t>(c) << 28) | d;
        sub.k[round] = permute(joined, 56, kPermutedChoice2, 48);
    }
}

std::uint32_t feistel(std::uint32_t r, std::uint64_t subkey) {
    const std::uint64_t x = permute(r, 32, kExpansion, 48) ^ subkey;
    std::uint32_t s = 0;
    for (int box = 0; box < 8; ++box) {
        const unsigned six = static_cast<unsigned>(x >> (42 - 6 * box)) & 0x3Fu;
        const unsigned row = ((six >> 4) & 2u) | (six & 1u);
        const unsigned col = (six >> 1) & 0xFu;
        s = (s << 4) | kSBoxes[box][row * 16 + col];
    }
    return static_cast<std::uint32_t>(permute(s, 32, kPermutationP, 32));
}

void desBlock(std::uint8_t block[kDesBlockSize], const std::uint8_t key[kDesKeySize],
              bool decrypt) {
    Subkeys sub;
    makeSubkeys(key, sub);
    const std::uint64_t ip = permute(load(block), 64, kInitialPermutation, 64);
    std::uint32_t l = static_cast<std::uint32_t>(ip >> 32);
    std::uint32_t r = static_cast<std::uint32_t>(ip);
    for (int round = 0; round < 16; ++round) {
        const std::uint32_t next = l ^ feistel(r, sub.k[decrypt ? 15 - round : round]);
        l = r;
        r = next;
    }
    // The halves are swapped once more before the final permutation.
    const std::uint64_t preoutput = (static_cast<std::uint64_t>(r) << 32) | l;
    store(permute(preoutput, 64, kFinalPermutation, 64), block);
}

void xorBlock(std::uint8_t* into, const std::uint8_t* from) {
    for (std::size_t i = 0; i < kDesBlockSize; ++i) into[i] ^= from[i];
}

}  // namespace

void desEncryptBlock(std::uint8_t block[kDesBlockSize], const std::uint8_t key[kDesKeySize]) {
    desBlock(block, key, false);
}

void desDecryptBlock(std::uint8_t block[kDesBlockSize], const std::uint8_t key[kDesKeySize]) {
    desBlock(block, key, true);
}

void tripleDesEncryptBlock(std::uint8_t block[kDesBlockSize],
                           const std::uint8_t key[kTripleDesKeySize]) {
    desBlock(block, key, false);
    desBlock(block, key + kDesKeySize, true);
    desBlock(block, key, false);
}

void tripleDesDecryptBlock(std::uint8_t block[kDesBlockSize],
                           const std::uint8_t key[kTripleDesKeySize]) {
    desBlock(block, key, true);
    desBlock(block, key + kDesKeySize, false);
    desBlock(block, key, true);
}

UnpaddedPlaintext ecbDecryptUnpad(const std::uint8_t* data, std::size_t n,
                                  const std::uint8_t key[kTripleDesKeySize]) {
    UnpaddedPlaintext out;
    if (n % kDesBlockSize != 0 || (n > 0 && data == nullptr)) return out;

    out.bytes = common::SecretBytes(n + kDesBlockSize);
    std::uint8_t* plain = out.bytes.data();

    for (std::size_t off = 0; off < n; off += kDesBlockSize) {
        std::memcpy(plain + off, data + off, kDesBlockSize);
        tripleDesDecryptBlock(plain + off, key);
    }
    std::size_t i = n;
    while (i > 0 && plain[i - 1] == 0x00) --i;
    if (i == 0 || plain[i - 1] != 0x80) {
        out.bytes.clear();
        return out;
    }
    plain[i - 1] = 0x00;
    out.length = static_cast<long>(i - 1);
    return out;
}

void cbcEncryptPadded(const std::uint8_t iv[kDesBlockSize], std::uint8_t* data, std::size_t& length,
                      const std::uint8_t key[kTripleDesKeySize]) {
    const std::size_t pad = kDesBlockSize - length % kDesBlockSize;
    std::memset(data + length, static_cast<int>(pad), pad);
    length += pad;
    const std::uint8_t* chain = iv;
    for (std::size_t off = 0; off < length; off += kDesBlockSize) {
        xorBlock(data + off, chain);
        tripleDesEncryptBlock(data + off, key);
        chain = data + off;
    }
}

bool cbcDecrypt(const std::uint8_t iv[kDesBlockSize], std::uint8_t* data, std::size_t length,
                const std::uint8_t key[kTripleDesKeySize]) {
    if (length % kDesBlockSize != 0) return false;
    std::uint8_t chain[kDesBlockSize];
    std::uint8_t cipher[kDesBlockSize];
    std::memcpy(chain, iv, kDesBlockSize);
    for (std::size_t off = 0; off < length; off += kDesBlockSize) {
        std::memcpy(cipher, data + off, kDesBlockSize);
        tripleDesDecryptBlock(data + off, key);
        xorBlock(data + off, chain);
        std::memcpy(chain, cipher, kDesBlockSize);
    }
    return true;
}

void cbcMac(const std::uint8_t iv[kDesBlockSize], const std::uint8_t* data, std::size_t length,
            const std::uint8_t key[kTripleDesKeySize], std::uint8_t mac[kDesBlockSize]) {
    std::uint8_t chain[kDesBlockSize];
    std::memcpy(chain, iv, kDesBlockSize);
    const std::size_t full = length - length % kDesBlockSize;
    for (std::size_t off = 0; off < full; off += kDesBlockSize) {
        xorBlock(chain, data + off);
        tripleDesEncryptBlock(chain, key);
    }
    const std::size_t rest = length - full;
    for (std::size_t i = 0; i < kDesBlockSize; ++i) {
        chain[i] ^= i < rest ? data[full + i] : static_cast<std::uint8_t>(kDesBlockSize - rest);
    }
    tripleDesEncryptBlock(chain, key);
    std::memcpy(mac, chain, kDesBlockSize);
}

}  // namespace cardread
