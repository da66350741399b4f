#include "card_crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <memory>
#include <stdexcept>

namespace cardsim {
namespace {

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// One pass of des-ede in the given mode; padding as OpenSSL's PKCS form when asked.
Bytes run(const EVP_CIPHER* cipher, bool encrypt, bool pad, const Bytes& key, const Bytes* iv,
          const Bytes& data) {
    if (key.size() != kKeySize) throw std::invalid_argument("triple-DES key must be 16 bytes");
    CipherCtx ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!ctx ||
        EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), iv ? iv->data() : nullptr,
                          encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx.get(), pad ? 1 : 0) != 1)
        throw std::runtime_error("OpenSSL cipher setup failed");
    Bytes out(data.size() + 2 * kBlockSize);
    int n1 = 0;
    int n2 = 0;
    if (EVP_CipherUpdate(ctx.get(), out.data(), &n1, data.data(), static_cast<int>(data.size())) !=
            1 ||
        EVP_CipherFinal_ex(ctx.get(), out.data() + n1, &n2) != 1)
        throw std::runtime_error("OpenSSL cipher failed");
    out.resize(static_cast<std::size_t>(n1 + n2));
    return out;
}

}  // namespace

Bytes encryptBlock(const Bytes& key, const Bytes& block) {
    if (block.size() != kBlockSize) throw std::invalid_argument("block must be 8 bytes");
    return run(EVP_des_ede_ecb(), true, false, key, nullptr, block);
}

std::optional<Bytes> cbcDecrypt(const Bytes& key, const Bytes& iv, const Bytes& data) {
    if (data.size() % kBlockSize != 0 || iv.size() != kBlockSize) return std::nullopt;
    return run(EVP_des_ede_cbc(), false, false, key, &iv, data);
}

Bytes cbcEncryptPadded(const Bytes& key, const Bytes& iv, const Bytes& data) {
    if (iv.size() != kBlockSize) throw std::invalid_argument("IV must be 8 bytes");
    return run(EVP_des_ede_cbc(), true, true, key, &iv, data);
}

Bytes cbcMac(const Bytes& key, const Bytes& iv, const Bytes& data) {
    Bytes chain = cbcEncryptPadded(key, iv, data);
    return Bytes(chain.end() - kBlockSize, chain.end());
}

std::optional<Bytes> ecbDecryptUnpad(const Bytes& key, const Bytes& data) {
    if (data.empty() || data.size() % kBlockSize != 0) return std::nullopt;
    Bytes plain = run(EVP_des_ede_ecb(), false, false, key, nullptr, data);
    while (!plain.empty() && plain.back() == 0x00) plain.pop_back();
    if (plain.empty() || plain.back() != 0x80) return std::nullopt;
    plain.pop_back();
    return plain;
}

Bytes randomBytes(std::size_t n) {
    Bytes out(n);
    if (n > 0 && RAND_bytes(out.data(), static_cast<int>(n)) != 1)
        throw std::runtime_error("no random bytes from OpenSSL");
    return out;
}

}  // namespace cardsim
