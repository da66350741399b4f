#include "key_store.h"

#include <cstring>

#include "issuer_keys.h"

namespace cardread {
namespace {

bool decipherKey(const std::uint8_t* block, std::size_t length,
                 const std::uint8_t kdk[kTripleDesKeySize], std::uint8_t* key) {
    const UnpaddedPlaintext plain = ecbDecryptUnpad(block, length, kdk);
    if (plain.length != static_cast<long>(kTripleDesKeySize)) return false;
    std::memcpy(key, plain.bytes.data(), kTripleDesKeySize);
    return true;
}

}  // namespace

const IssuerSecrets& builtInIssuerSecrets() {
    static const IssuerSecrets secrets{issuerkeys::kKdkHalf1,  issuerkeys::kKdkHalf2,
                                       issuerkeys::kKeyBlockA, sizeof issuerkeys::kKeyBlockA,
                                       issuerkeys::kKeyBlockB, sizeof issuerkeys::kKeyBlockB,
                                       issuerkeys::kAuthKey,   sizeof issuerkeys::kAuthKey};
    return secrets;
}

int SetupKeys(KeyStore& store, const IssuerSecrets& secrets) {
    if (store.installed) return 0;

    common::SecretArray<kTripleDesKeySize> kdk;
    std::memcpy(kdk.data(), secrets.kdkHalf1, kDesKeySize);
    std::memcpy(kdk.data() + kDesKeySize, secrets.kdkHalf2, kDesKeySize);

    common::SecretArray<kTripleDesKeySize> keyA;
    common::SecretArray<kTripleDesKeySize> keyB;
    if (!decipherKey(secrets.keyBlockA, secrets.keyBlockALength, kdk.data(), keyA.data()) ||
        !decipherKey(secrets.keyBlockB, secrets.keyBlockBLength, kdk.data(), keyB.data())) {
        return -1;
    }
    store.keyA.bytes = keyA.bytes;
    store.keyB.bytes = keyB.bytes;
    store.macKey.bytes = keyB.bytes;
    store.installed = true;
    return 0;
}

}  // namespace cardread
