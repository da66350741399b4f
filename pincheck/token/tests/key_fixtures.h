// Test helpers for the key and certificate exports: RSA key pairs with self-signed certificates
// made with OpenSSL, and a token layer context bound and logged in for one test.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

#include "context_guard.h"
#include "mock_module.h"
#include "softhsm_token.h"
#include "temp_dir.h"
#include "token_api.h"

namespace keytest {

using Bytes = std::vector<unsigned char>;

// A unique_ptr deleter that calls the crypto library's own free function.
template <auto Free>
struct Freer {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Freer<X509_free>>;
using CtxPtr = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX_free>>;

Bytes fromHex(const std::string& hex);
std::string toHex(const Bytes& bytes);

// A fresh RSA key pair and a self-signed certificate for it, written as files into `folder`:
// NAME.key.pem (PKCS#8 PEM), NAME.key.der (PKCS#8 DER) and NAME.cert.der.
struct KeyPair {
    std::string pemPath;
    std::string keyDerPath;
    std::string certDerPath;
    Bytes certDer;
    PkeyPtr publicKey;  // the public half only, as a verifier has it
};
KeyPair makeKeyPair(const std::string& folder, const std::string& name, int bits = 2048);

// Script lines for the test module: the pair's private key and certificate in slot 1 under the
// ID `idHex`.
std::string mockKeyLines(const KeyPair& pair, const std::string& idHex);

// A SoftHSM2 token (PIN 1234) holding a fresh key pair and its certificate under each ID,
// imported with pkcs11-tool; throws std::runtime_error when an import fails.
struct SoftHsmKeys {
    explicit SoftHsmKeys(const std::vector<std::string>& idsHex);
    testsupport::SoftHsmToken hsm;
    testsupport::TempDir dir;
    std::vector<KeyPair> pairs;
};

Bytes derOf(X509* cert);

// Software checks with the public half.
bool verifyDigest(EVP_PKEY* publicKey, const EVP_MD* md, const Bytes& digest, const Bytes& sig);
bool verifyMessage(EVP_PKEY* publicKey, const EVP_MD* md, const std::string& message,
                   const Bytes& sig);
Bytes encryptPkcs1(EVP_PKEY* publicKey, const Bytes& plain);
Bytes sha256(const std::string& message);
// A SHA-256 PKCS#1 v1.5 signature of the message through EVP_DigestSign, the way most callers
// sign; false when any step fails.
bool digestSign(EVP_PKEY* key, const std::string& message, Bytes& sig);

// LoginToken on the first slot of the context's module that holds a token; a null PIN opens a
// session without login.
TokenResult loginFirstToken(TokenContext* ctx, const char* pin);

// A context bound to a module, released as a ContextGuard; login() opens a session on the first
// slot that holds a token.
class LayerSession : public ContextGuard {
  public:
    explicit LayerSession(const std::string& modulePath)
        : initResult_(InitLibrary(modulePath.c_str(), &ctx)) {}

    TokenResult bound() const { return initResult_; }
    TokenResult login(const char* pin) { return loginFirstToken(&ctx, pin); }
    TokenResult logout() { return LogoutToken(&ctx); }

  private:
    TokenResult initResult_;
};

// A test module whose slot 1 holds the objects of the script lines `objects`, and a context
// bound to it; ready() logs in with PIN 1234.
struct MockToken {
    explicit MockToken(const std::string& objects)
        : mock("slot 1\n" + objects), layer(mock.path()) {}
    bool ready() { return layer.bound() == 0 && layer.login("1234") == 0; }
    testsupport::MockModule mock;
    LayerSession layer;
};

}  // namespace keytest
