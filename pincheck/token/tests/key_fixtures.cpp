#include "key_fixtures.h"

#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstdio>
#include <stdexcept>

#include "common/hex.h"

namespace keytest {
namespace {

void require(bool ok, const char* what) {
    if (!ok) throw std::runtime_error(std::string("OpenSSL failed: ") + what);
}

void writeBytes(const std::string& path, const unsigned char* data, std::size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    require(f != nullptr, "open output file");
    const bool ok = std::fwrite(data, 1, size, f) == size;
    std::fclose(f);
    require(ok, "write output file");
}

}  // namespace

Bytes fromHex(const std::string& hex) {
    return common::fromHex(hex).value();
}

std::string toHex(const Bytes& bytes) {
    return common::toHex(bytes.data(), bytes.size(), '\0', true);
}

KeyPair makeKeyPair(const std::string& folder, const std::string& name, int bits) {
    PkeyPtr key(EVP_RSA_gen(static_cast<unsigned>(bits)));
    require(key != nullptr, "generate RSA key");

    X509Ptr cert(X509_new());
    require(cert && X509_set_version(cert.get(), 2), "new certificate");
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400L * 30);
    X509_NAME* subject = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0);
    require(X509_set_issuer_name(cert.get(), subject) && X509_set_pubkey(cert.get(), key.get()) &&
                X509_sign(cert.get(), key.get(), EVP_sha256()) > 0,
            "sign certificate");

    KeyPair pair;
    pair.pemPath = folder + "/" + name + ".key.pem";
    pair.keyDerPath = folder + "/" + name + ".key.der";
    pair.certDerPath = folder + "/" + name + ".cert.der";

    std::unique_ptr<FILE, decltype(&std::fclose)> pem(std::fopen(pair.pemPath.c_str(), "wb"),
                                                      std::fclose);
    require(
        pem && PEM_write_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr),
        "PEM key");

    unsigned char* der = nullptr;
    const int derSize = i2d_PrivateKey(key.get(), &der);
    require(derSize > 0, "DER key");
    writeBytes(pair.keyDerPath, der, static_cast<std::size_t>(derSize));
    OPENSSL_clear_free(der, static_cast<std::size_t>(derSize));

    pair.certDer = derOf(cert.get());
    require(!pair.certDer.empty(), "DER certificate");
    writeBytes(pair.certDerPath, pair.certDer.data(), pair.certDer.size());

    EVP_PKEY* pub = X509_get_pubkey(cert.get());
    require(pub != nullptr, "public half");
    pair.publicKey.reset(pub);
    return pair;
}

std::string mockKeyLines(const KeyPair& pair, const std::string& idHex) {
    return "key slot=1 id=" + idHex + " pem=\"" + pair.pemPath + "\"\ncert slot=1 id=" + idHex +
           " der=\"" + pair.certDerPath + "\"\n";
}

SoftHsmKeys::SoftHsmKeys(const std::vector<std::string>& idsHex) {
    for (const std::string& id : idsHex) {
        pairs.push_back(makeKeyPair(dir.path(), id));
        for (bool cert : {false, true})
            if (hsm.run("pkcs11-tool",
                        {"--module", hsm.kModule, "--login", "--pin", "1234", "--write-object",
                         cert ? pairs.back().certDerPath : pairs.back().keyDerPath, "--type",
                         cert ? "cert" : "privkey", "--id", id, "--label", id}) != 0)
                throw std::runtime_error("pkcs11-tool could not import the key pair " + id);
    }
}

Bytes derOf(X509* cert) {
    unsigned char* der = nullptr;
    const int size = i2d_X509(cert, &der);
    Bytes out(der, der + (size > 0 ? size : 0));
    OPENSSL_free(der);
    return out;
}

bool verifyDigest(EVP_PKEY* publicKey, const EVP_MD* md, const Bytes& digest, const Bytes& sig) {
    CtxPtr ctx(EVP_PKEY_CTX_new(publicKey, nullptr));
    return ctx && EVP_PKEY_verify_init(ctx.get()) > 0 &&
           EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0 &&
           EVP_PKEY_CTX_set_signature_md(ctx.get(), md) > 0 &&
           EVP_PKEY_verify(ctx.get(), sig.data(), sig.size(), digest.data(), digest.size()) == 1;
}

bool verifyMessage(EVP_PKEY* publicKey, const EVP_MD* md, const std::string& message,
                   const Bytes& sig) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    return ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, publicKey) > 0 &&
           EVP_DigestVerify(ctx.get(), sig.data(), sig.size(),
                            reinterpret_cast<const unsigned char*>(message.data()),
                            message.size()) == 1;
}

Bytes encryptPkcs1(EVP_PKEY* publicKey, const Bytes& plain) {
    CtxPtr ctx(EVP_PKEY_CTX_new(publicKey, nullptr));
    require(ctx && EVP_PKEY_encrypt_init(ctx.get()) > 0 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0,
            "encrypt init");
    std::size_t size = 0;
    require(EVP_PKEY_encrypt(ctx.get(), nullptr, &size, plain.data(), plain.size()) > 0,
            "encrypt size");
    Bytes out(size);
    require(EVP_PKEY_encrypt(ctx.get(), out.data(), &size, plain.data(), plain.size()) > 0,
            "encrypt");
    out.resize(size);
    return out;
}

bool digestSign(EVP_PKEY* key, const std::string& message, Bytes& sig) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    const auto* data = reinterpret_cast<const unsigned char*>(message.data());
    std::size_t length = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) <= 0 ||
        EVP_DigestSign(ctx.get(), nullptr, &length, data, message.size()) <= 0)
        return false;
    sig.resize(length);
    if (EVP_DigestSign(ctx.get(), sig.data(), &length, data, message.size()) <= 0) return false;
    sig.resize(length);
    return true;
}

Bytes sha256(const std::string& message) {
    Bytes out(32);
    unsigned int size = 0;
    require(
        EVP_Digest(message.data(), message.size(), out.data(), &size, EVP_sha256(), nullptr) > 0,
        "digest");
    out.resize(size);
    return out;
}

TokenResult loginFirstToken(TokenContext* ctx, const char* pin) {
    CK_SLOT_ID slots[10];
    CK_ULONG count = 10;
    if (TokenResult r = GetSlotID(ctx, slots, &count)) return r;
    for (CK_ULONG i = 0; i < count; ++i) {
        if (IsTokenPresent(ctx, slots[i]) != 1) continue;
        CK_ULONG deviceError = 0;
        return LoginToken(ctx, slots[i], pin, &deviceError);
    }
    return 0xDA0000E0u;  // token not present
}

}  // namespace keytest
