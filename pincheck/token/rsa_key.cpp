// Private keys of the token as RSA keys of the crypto library: the public half is read from the
// token, the private operations go to the token with CKM_RSA_PKCS. The key's private material
// never leaves the token.
//
// The RSA_METHOD interface is deprecated in OpenSSL 3 but remains the way to route a legacy RSA
// key's private operations elsewhere while the ordinary entry points (RSA_sign, EVP_PKEY_sign,
// EVP_DigestSign, RSA_private_decrypt) keep working for the caller. This file is the one place
// that uses it.
#define OPENSSL_SUPPRESS_DEPRECATED

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "bridge_objects.h"
#include "layer.h"
#include "module_loader.h"

namespace token {
namespace {

// What a token key needs to reach its object: hung on the RSA key as application data and freed
// by the method's finish when the key goes. The key holds its own reference on the module, so a
// key still held after CloseLibrary reaches a finalised module, which refuses, instead of
// unmapped code.
struct KeyRef {
    CK_FUNCTION_LIST_PTR functions;
    CK_SESSION_HANDLE session;
    CK_OBJECT_HANDLE key;
    void* module;  // the loader's reference, or null where the platform gave none
};

constexpr int kKeyRefIndex = 0;  // the application-data slot of an RSA key

// The card's keys are at most 8192 bits; modulus, exponent and every result fit 1024 bytes.
constexpr std::size_t kRsaComponentSize = 1024;

// PKCS#1 v1.5 block type 1 and 2 need 11 bytes of framing around the data.
constexpr int kPkcs1Overhead = 11;
constexpr unsigned kMd5Sha1Length = 36;

// Reasons of our own, one per failure, next to the CKR values the token answered.
constexpr int kReasonBadPadding = -2;
constexpr int kReasonBadMd5Sha1 = -3;
constexpr int kReasonDigestInfo = -4;
constexpr int kReasonNoModulus = -5;

struct BnFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};
struct RsaFree {
    void operator()(RSA* p) const { RSA_free(p); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct SigFree {
    void operator()(X509_SIG* p) const { X509_SIG_free(p); }
};

// OpenSSL 3 has no function codes; the operation's name goes where the source position goes.
void queueError(const char* operation, int line, long reason) {
    ERR_new();
    ERR_set_debug("p11_key", line, operation);
    ERR_set_error(ERR_LIB_USER, static_cast<int>(reason), nullptr);
}
#define TOKEN_KEY_ERROR(operation, reason) queueError(operation, __LINE__, reason)

const KeyRef* keyRefOf(const RSA* rsa) {
    return static_cast<const KeyRef*>(RSA_get_ex_data(rsa, kKeyRefIndex));
}

// The module writes at most this much: the caller's buffer holds the modulus size (that is the
// contract of RSA_sign and RSA_private_decrypt), which may be less than the 1024 bytes the card's
// largest key needs.
CK_ULONG outputRoom(const RSA* rsa) {
    const int k = RSA_size(rsa);
    if (k <= 0) return 0;
    return static_cast<std::size_t>(k) < kRsaComponentSize ? static_cast<CK_ULONG>(k)
                                                           : kRsaComponentSize;
}

int tokenPrivateEncrypt(int flen, const unsigned char* from, unsigned char* to, const RSA* rsa,
                        int padding) {
    if (padding != RSA_PKCS1_PADDING || flen < 0) {
        TOKEN_KEY_ERROR("rsa_priv_enc", kReasonBadPadding);
        return -1;
    }
    const KeyRef* ref = keyRefOf(rsa);
    if (!ref) {
        TOKEN_KEY_ERROR("rsa_priv_enc", CKR_KEY_HANDLE_INVALID);
        return -1;
    }
    CK_RV rv = SignInit(ref->functions, ref->session, ref->key);
    if (rv != CKR_OK) {
        // The one line on standard output the layer ever writes: callers' support scripts read
        // a failed token signature's module code from there, so it stays as it always was.
        std::printf("C_SignInit err=%lx\n", static_cast<unsigned long>(rv));
        std::fflush(stdout);
        TOKEN_KEY_ERROR("rsa_priv_enc", static_cast<long>(rv));
        return -1;
    }
    const CK_ULONG room = outputRoom(rsa);
    CK_ULONG length = room;
    rv = Sign(ref->functions, ref->session, from, static_cast<CK_ULONG>(flen), to, &length);
    if (rv != CKR_OK) {
        std::printf("C_Sign err=%lx\n", static_cast<unsigned long>(rv));
        std::fflush(stdout);
        TOKEN_KEY_ERROR("rsa_priv_enc", static_cast<long>(rv));
        return -1;
    }
    if (length > room) {  // a module that claims to have written past the buffer
        TOKEN_KEY_ERROR("rsa_priv_enc", CKR_GENERAL_ERROR);
        return -1;
    }
    return static_cast<int>(length);
}

int tokenPrivEnc(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding) {
    return tokenPrivateEncrypt(flen, from, to, rsa, padding);
}

int tokenPrivDec(int flen, const unsigned char* from, unsigned char* to, RSA* rsa, int padding) {
    if (padding != RSA_PKCS1_PADDING || flen < 0) {
        TOKEN_KEY_ERROR("rsa_priv_dec", kReasonBadPadding);
        return -1;
    }
    const KeyRef* ref = keyRefOf(rsa);
    if (!ref) {
        TOKEN_KEY_ERROR("rsa_priv_dec", CKR_KEY_HANDLE_INVALID);
        return -1;
    }
    CK_RV rv = DecryptInit(ref->functions, ref->session, ref->key);
    if (rv != CKR_OK) {
        TOKEN_KEY_ERROR("rsa_priv_dec", static_cast<long>(rv));
        return -3;
    }
    const CK_ULONG room = outputRoom(rsa);
    CK_ULONG length = room;
    rv = Decrypt(ref->functions, ref->session, from, static_cast<CK_ULONG>(flen), to, &length);
    if (rv != CKR_OK) {
        TOKEN_KEY_ERROR("rsa_priv_dec", static_cast<long>(rv));
        return -4;
    }
    if (length > room) {
        TOKEN_KEY_ERROR("rsa_priv_dec", CKR_GENERAL_ERROR);
        return -4;
    }
    return static_cast<int>(length);
}

// The DER DigestInfo for a digest: algorithm with a NULL parameter, digest as OCTET STRING.
// Returns its length in a buffer of `room` bytes, or 0 when it cannot be built or does not leave
// room for the PKCS#1 framing.
int encodeDigestInfo(int type, const unsigned char* m, unsigned int mLength, int k,
                     LayerPtr<unsigned char>* out) {
    const ASN1_OBJECT* algorithm = OBJ_nid2obj(type);
    if (!algorithm || OBJ_length(algorithm) == 0) return 0;
    std::unique_ptr<X509_SIG, SigFree> sig(X509_SIG_new());
    if (!sig) return 0;
    X509_ALGOR* algor = nullptr;
    ASN1_OCTET_STRING* digest = nullptr;
    X509_SIG_getm(sig.get(), &algor, &digest);
    if (!X509_ALGOR_set0(algor, OBJ_dup(algorithm), V_ASN1_NULL, nullptr)) return 0;
    if (!ASN1_OCTET_STRING_set(digest, m, static_cast<int>(mLength))) return 0;
    const int length = i2d_X509_SIG(sig.get(), nullptr);
    if (length <= 0 || length + kPkcs1Overhead > k) return 0;
    out->reset(static_cast<unsigned char*>(layerAlloc(static_cast<std::size_t>(k))));
    if (!*out) return 0;
    unsigned char* p = out->get();
    return i2d_X509_SIG(sig.get(), &p) == length ? length : 0;
}

int tokenSign(int type, const unsigned char* m, unsigned int mLength, unsigned char* sigret,
              unsigned int* siglen, const RSA* rsa) {
    const BIGNUM* n = nullptr;
    RSA_get0_key(rsa, &n, nullptr, nullptr);
    if (!n) {
        TOKEN_KEY_ERROR("rsa_sign", kReasonNoModulus);
        return 0;
    }
    const int k = (BN_num_bits(n) + 7) / 8;

    LayerPtr<unsigned char> digestInfo;
    const unsigned char* data = m;
    int dataLength = static_cast<int>(mLength);
    if (type == NID_md5_sha1) {
        // The TLS 1.0 style signature: the two digests are signed without a DigestInfo.
        if (mLength != kMd5Sha1Length || static_cast<int>(kMd5Sha1Length) + kPkcs1Overhead > k) {
            TOKEN_KEY_ERROR("rsa_sign", kReasonBadMd5Sha1);
            return 0;
        }
    } else {
        dataLength = encodeDigestInfo(type, m, mLength, k, &digestInfo);
        if (dataLength == 0) {
            TOKEN_KEY_ERROR("rsa_sign", kReasonDigestInfo);
            return 0;
        }
        data = digestInfo.get();
    }

    const int written = tokenPrivateEncrypt(dataLength, data, sigret, rsa, RSA_PKCS1_PADDING);
    if (written <= 0) return 0;
    *siglen = static_cast<unsigned int>(written);
    return 1;
}

int (*defaultFinish)(RSA*) = nullptr;

int tokenFinish(RSA* rsa) {
    auto* ref = static_cast<KeyRef*>(RSA_get_ex_data(rsa, kKeyRefIndex));
    if (ref && ref->module) unloadModule(ref->module);
    layerFree(ref);
    RSA_set_ex_data(rsa, kKeyRefIndex, nullptr);
    return defaultFinish ? defaultFinish(rsa) : 1;
}

// One method for every token key of the process, made from the default method on first use and
// kept until the process ends. Verification and the public-key operations stay the default
// method's: in OpenSSL 3 RSA_verify calls a replaced verify unconditionally, so a replacement
// that defers to RSA_verify would call itself; the default verifies in software with the key's
// public half, which is what a token key needs.
RSA_METHOD* makeTokenRsaMethod() {
    const RSA_METHOD* base = RSA_get_default_method();
    std::unique_ptr<RSA_METHOD, decltype(&RSA_meth_free)> method(RSA_meth_dup(base),
                                                                 &RSA_meth_free);
    if (!method) return nullptr;
    defaultFinish = RSA_meth_get_finish(base);
    RSA_METHOD* m = method.get();
    if (!RSA_meth_set1_name(m, "token RSA method") || !RSA_meth_set_priv_enc(m, tokenPrivEnc) ||
        !RSA_meth_set_priv_dec(m, tokenPrivDec) || !RSA_meth_set_sign(m, tokenSign) ||
        !RSA_meth_set_finish(m, tokenFinish))
        return nullptr;
    // Every token key of the process refers to it until the process ends.
    return method.release();
}

const RSA_METHOD* tokenRsaMethod() {
    static RSA_METHOD* const method = makeTokenRsaMethod();
    return method;
}

// Reads a big-endian component of the key object; null when the module does not deliver it or
// reports a length the buffer cannot hold.
BIGNUM* readComponent(const KeyRef& ref, CK_ATTRIBUTE_TYPE type) {
    unsigned char buffer[kRsaComponentSize];
    CK_ULONG length = sizeof buffer;
    CK_RV rv = ReadAttribute(ref.functions, ref.session, ref.key, type, buffer, &length);
    if (rv != CKR_OK || length == 0 || length > sizeof buffer) return nullptr;
    return BN_bin2bn(buffer, static_cast<int>(length), nullptr);
}

TokenResult openKey(TokenContext* ctx, const unsigned char* id, CK_ULONG idLength, EVP_PKEY** key) {
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_SESSION_HANDLE s = 0;
    if (TokenResult r = requireSession(ctx, &f, &s)) return r;
    if (!key) return kBase | CKR_ARGUMENTS_BAD;
    *key = nullptr;

    LayerPtr<KeyEntry> entry(static_cast<KeyEntry*>(layerAlloc(sizeof(KeyEntry))));
    if (!entry) return kNoMemory;
    bool found = false;
    CK_RV rv = FindObjectById(f, s, CKO_PRIVATE_KEY, id, idLength, entry.get(), &found);
    if (rv != CKR_OK) return ckr(rv);
    if (!found) return kNoSuchObject;

    LayerPtr<KeyRef> ref(static_cast<KeyRef*>(layerAlloc(sizeof(KeyRef))));
    if (!ref) return kNoMemory;
    *ref = KeyRef{f, entry->session, entry->object, nullptr};

    std::unique_ptr<EVP_PKEY, PkeyFree> pkey(EVP_PKEY_new());
    std::unique_ptr<RSA, RsaFree> rsa(RSA_new());
    if (!pkey || !rsa) return kNoCryptoObject;

    // Without both public components the key cannot even report its size to OpenSSL, so such an
    // object does not make a key.
    std::unique_ptr<BIGNUM, BnFree> n(readComponent(*ref, CKA_MODULUS));
    std::unique_ptr<BIGNUM, BnFree> e(readComponent(*ref, CKA_PUBLIC_EXPONENT));
    if (!n || !e || !RSA_set0_key(rsa.get(), n.get(), e.get(), nullptr)) return kNoCryptoObject;
    n.release();
    e.release();

    const RSA_METHOD* method = tokenRsaMethod();
    if (!method || !RSA_set_method(rsa.get(), method)) return kNoCryptoObject;
    // From here the method's finish owns the reference.
    if (!RSA_set_ex_data(rsa.get(), kKeyRefIndex, ref.get())) return kNoMemory;
    KeyRef* held = ref.release();
    held->module = referenceModuleAt(f);

    if (!EVP_PKEY_set1_RSA(pkey.get(), rsa.get())) return kNoCryptoObject;
    *key = pkey.release();
    return 0;
}

}  // namespace
}  // namespace token

extern "C" {

TokenResult GetKey(TokenContext* ctx, const unsigned char* id, CK_ULONG idLength, EVP_PKEY** key) {
    return token::openKey(ctx, id, idLength, key);
}

TokenResult FreeKey(EVP_PKEY* key) {
    EVP_PKEY_free(key);
    return 0;
}

}  // extern "C"
