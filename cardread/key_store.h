// The card keys of the process: deciphered once from the stored key blocks, kept while the
// library stays loaded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/secret.h"
#include "des_cipher.h"

namespace cardread {

constexpr std::size_t kKeyBlockSize = 24;

// The card issuer's secrets as the build carries them (see keys/README.md). The
// key-deciphering key exists only as two halves until SetupKeys joins them.
struct IssuerSecrets {
    const std::uint8_t* kdkHalf1;  // 8 bytes
    const std::uint8_t* kdkHalf2;  // 8 bytes
    const std::uint8_t* keyBlockA;
    std::size_t keyBlockALength;
    const std::uint8_t* keyBlockB;
    std::size_t keyBlockBLength;
    const std::uint8_t* authKey;
    std::size_t authKeyLength;
};

// The secrets this build was configured with.
const IssuerSecrets& builtInIssuerSecrets();

struct KeyStore {
    common::SecretArray<kTripleDesKeySize> keyA;    // installed and checked; no command uses it
    common::SecretArray<kTripleDesKeySize> keyB;    // encipherment key of the protected VERIFY
    common::SecretArray<kTripleDesKeySize> macKey;  // copy of key B, the MAC key
    bool installed = false;
};

// Installs keys A and B once. 0, or -1 when a block does not decipher to exactly 16 bytes.
int SetupKeys(KeyStore& store, const IssuerSecrets& secrets);

}  // namespace cardread
