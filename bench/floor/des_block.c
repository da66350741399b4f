/* Plain table-driven DES (FIPS 46-3 tables); speed does not matter here, one block per run. */
#include "des_block.h"

#include <stdint.h>

#include "des_tables.h"

/* Picks bits of `in` (numbered 1 = most significant of `inBits`) into a value of `n` bits. */
static uint64_t permute(uint64_t in, int inBits, const unsigned char* table, int n) {
    uint64_t out = 0;
    for (int i = 0; i < n; ++i) out = (out << 1) | ((in >> (inBits - table[i])) & 1);
    return out;
}

static void subkeys(const unsigned char key[8], uint64_t k[16]) {
    uint64_t in = 0;
    for (int i = 0; i < 8; ++i) in = (in << 8) | key[i];
    uint64_t cd = permute(in, 64, kPermutedChoice1, 56);
    uint32_t c = (uint32_t)(cd >> 28) & 0xFFFFFFF, d = (uint32_t)cd & 0xFFFFFFF;
    for (int r = 0; r < 16; ++r) {
        for (int s = 0; s < kRotations[r]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0xFFFFFFF;
            d = ((d << 1) | (d >> 27)) & 0xFFFFFFF;
        }
        k[r] = permute(((uint64_t)c << 28) | d, 56, kPermutedChoice2, 48);
    }
}

static uint32_t feistel(uint32_t r, uint64_t k) {
    uint64_t x = permute(r, 32, kExpansion, 48) ^ k;
    uint32_t out = 0;
    for (int s = 0; s < 8; ++s) {
        unsigned six = (unsigned)(x >> (42 - 6 * s)) & 0x3F;
        unsigned row = ((six & 0x20) >> 4) | (six & 1), col = (six >> 1) & 0xF;
        out = (out << 4) | kSBoxes[s][row * 16 + col];
    }
    return (uint32_t)permute(out, 32, kPermutationP, 32);
}

static void desBlock(unsigned char block[8], const unsigned char key[8], int decrypt) {
    uint64_t k[16];
    subkeys(key, k);
    uint64_t in = 0;
    for (int i = 0; i < 8; ++i) in = (in << 8) | block[i];
    uint64_t lr = permute(in, 64, kInitialPermutation, 64);
    uint32_t l = (uint32_t)(lr >> 32), r = (uint32_t)lr;
    for (int round = 0; round < 16; ++round) {
        uint32_t next = l ^ feistel(r, k[decrypt ? 15 - round : round]);
        l = r;
        r = next;
    }
    uint64_t out = permute(((uint64_t)r << 32) | l, 64, kFinalPermutation, 64);
    for (int i = 7; i >= 0; --i, out >>= 8) block[i] = (unsigned char)out;
}

void tripleDesEncrypt(unsigned char block[8], const unsigned char key[16]) {
    desBlock(block, key, 0);
    desBlock(block, key + 8, 1);
    desBlock(block, key, 0);
}
