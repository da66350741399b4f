// A caller of the token API on Windows, built with the token layer and the libcrypto DLL that
// ships beside pincheck.exe: it binds the module (plain file name, so the DLL search order finds
// it), logs in, lists keys and certificates, signs and decrypts with the token's key, checks both
// against the certificate's public key in the same crypto library, and hands back what it got
// with X509_free and FreeKey. One line per step on standard output; exit status 0 only when every
// step gave what it must.
//
//   token_probe.exe MODULE PIN
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/hex.h"
#include "token_api.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::string hex(const Bytes& bytes) {
    return common::toHex(bytes.data(), bytes.size(), '\0', true);
}

int failures = 0;

bool step(const char* name, TokenResult result) {
    std::printf("%s 0x%08lx\n", name, static_cast<unsigned long>(result));
    if (result != 0) ++failures;
    return result == 0;
}

void check(const char* name, bool ok) {
    std::printf("%s %s\n", name, ok ? "ok" : "FAILED");
    if (!ok) ++failures;
}

// The ID at the index; IDs are at most 256 bytes long (the layer's field size).
Bytes objectId(TokenContext* ctx, bool key, CK_ULONG index) {
    Bytes id(256);
    CK_ULONG length = static_cast<CK_ULONG>(id.size());
    const TokenResult r =
        key ? GetKeyID(ctx, index, id.data(), &length) : GetCertID(ctx, index, id.data(), &length);
    id.resize(r == 0 ? length : 0);
    return id;
}

bool signAndVerify(EVP_PKEY* key, EVP_PKEY* publicKey) {
    const unsigned char message[] = "sign me on Windows";
    Bytes signature(static_cast<size_t>(EVP_PKEY_get_size(key)));
    size_t signatureLength = signature.size();
    EVP_MD_CTX* sign = EVP_MD_CTX_new();
    bool ok =
        EVP_DigestSignInit(sign, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestSign(sign, signature.data(), &signatureLength, message, sizeof message) == 1;
    EVP_MD_CTX_free(sign);
    if (!ok) return false;
    EVP_MD_CTX* verify = EVP_MD_CTX_new();
    ok = EVP_DigestVerifyInit(verify, nullptr, EVP_sha256(), nullptr, publicKey) == 1 &&
         EVP_DigestVerify(verify, signature.data(), signatureLength, message, sizeof message) == 1;
    EVP_MD_CTX_free(verify);
    return ok;
}

bool encryptAndDecrypt(EVP_PKEY* key, EVP_PKEY* publicKey) {
    const Bytes secret = {'s', 'e', 'c', 'r', 'e', 't', 0, 1, 2, 3};
    Bytes cipher(static_cast<size_t>(EVP_PKEY_get_size(publicKey)));
    size_t cipherLength = cipher.size();
    EVP_PKEY_CTX* enc = EVP_PKEY_CTX_new(publicKey, nullptr);
    bool ok =
        EVP_PKEY_encrypt_init(enc) == 1 &&
        EVP_PKEY_CTX_set_rsa_padding(enc, RSA_PKCS1_PADDING) == 1 &&
        EVP_PKEY_encrypt(enc, cipher.data(), &cipherLength, secret.data(), secret.size()) == 1;
    EVP_PKEY_CTX_free(enc);
    if (!ok) return false;
    Bytes plain(cipherLength);
    size_t plainLength = plain.size();
    EVP_PKEY_CTX* dec = EVP_PKEY_CTX_new(key, nullptr);
    ok = EVP_PKEY_decrypt_init(dec) == 1 &&
         EVP_PKEY_CTX_set_rsa_padding(dec, RSA_PKCS1_PADDING) == 1 &&
         EVP_PKEY_decrypt(dec, plain.data(), &plainLength, cipher.data(), cipherLength) == 1;
    EVP_PKEY_CTX_free(dec);
    plain.resize(plainLength);
    return ok && plain == secret;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: token_probe.exe MODULE PIN\n");
        return 2;
    }
    TokenContext ctx = {};
    if (!step("InitLibrary", InitLibrary(argv[1], &ctx))) return 1;
    CK_SLOT_ID slots[10];
    CK_ULONG slotCount = 10;
    CK_ULONG deviceError = 0;
    if (step("GetSlotID", GetSlotID(&ctx, slots, &slotCount)) && slotCount > 0 &&
        step("LoginToken", LoginToken(&ctx, slots[0], argv[2], &deviceError))) {
        CK_ULONG keys = 0, certs = 0;
        step("GetKeyNum", GetKeyNum(&ctx, &keys));
        step("GetCertNum", GetCertNum(&ctx, &certs));
        std::printf("keys %lu certs %lu\n", static_cast<unsigned long>(keys),
                    static_cast<unsigned long>(certs));
        for (CK_ULONG i = 0; i < keys; ++i) {
            const Bytes keyId = objectId(&ctx, true, i);
            std::printf("key %s\n", hex(keyId).c_str());
            X509* cert = nullptr;
            EVP_PKEY* key = nullptr;
            if (!step("GetCert", GetCert(&ctx, keyId.data(), keyId.size(), &cert)) ||
                !step("GetKey", GetKey(&ctx, keyId.data(), keyId.size(), &key))) {
                X509_free(cert);
                continue;
            }
            EVP_PKEY* publicKey = X509_get0_pubkey(cert);
            check("sign-verify", publicKey != nullptr && signAndVerify(key, publicKey));
            check("encrypt-decrypt", publicKey != nullptr && encryptAndDecrypt(key, publicKey));
            X509_free(cert);
            step("FreeKey", FreeKey(key));
        }
        for (CK_ULONG i = 0; i < certs; ++i)
            std::printf("cert %s\n", hex(objectId(&ctx, false, i)).c_str());
        step("LogoutToken", LogoutToken(&ctx));
    }
    step("CloseLibrary", CloseLibrary(&ctx));
    std::printf("%s\n", failures == 0 ? "all steps passed" : "some steps failed");
    return failures == 0 ? 0 : 1;
}
