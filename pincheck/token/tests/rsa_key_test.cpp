// Token-backed RSA keys: signing and decryption reach the token through the ordinary OpenSSL entry
// points, verification stays in software, failures go to the error queue, and the key's
// reference to the token goes with the key. Against the scriptable test module (which signs with
// a real key and logs every call) and SoftHSM2.
//
// The tests call RSA_sign and RSA_private_decrypt as a caller of the exported API would; those
// are deprecated in OpenSSL 3.
#define OPENSSL_SUPPRESS_DEPRECATED

#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "key_fixtures.h"
#include "temp_dir.h"

using keytest::Bytes;
using keytest::CtxPtr;
using keytest::LayerSession;
using keytest::MockToken;
using keytest::PkeyPtr;
using keytest::X509Ptr;

namespace {

constexpr unsigned long kReasonMask = 0x7FFFFF;  // OpenSSL 3 keeps 23 bits of a reason

// Reasons the token operations queued (library ERR_LIB_USER), oldest first; empties the queue.
std::vector<unsigned long> userReasons() {
    std::vector<unsigned long> reasons;
    while (unsigned long e = ERR_get_error())
        if (ERR_GET_LIB(e) == ERR_LIB_USER) reasons.push_back(ERR_GET_REASON(e));
    return reasons;
}

unsigned long reasonOf(long reason) {
    return static_cast<unsigned long>(reason) & kReasonMask;
}

RSA* rsaOf(EVP_PKEY* key) {
    return const_cast<RSA*>(EVP_PKEY_get0_RSA(key));
}

// RSA_sign over the first `length` bytes of `digest` into `sig`, cut to the signature's length.
int rsaSign(int nid, const Bytes& digest, std::size_t length, EVP_PKEY* key, Bytes& sig) {
    sig.assign(static_cast<std::size_t>(EVP_PKEY_get_size(key)), 0);
    unsigned int size = 0;
    const int r =
        RSA_sign(nid, digest.data(), static_cast<unsigned>(length), sig.data(), &size, rsaOf(key));
    if (r == 1) sig.resize(size);
    return r;
}

// RSA_private_decrypt into `out`, cut to what came out.
int rsaDecrypt(EVP_PKEY* key, const Bytes& in, int padding, Bytes& out) {
    out.assign(static_cast<std::size_t>(EVP_PKEY_get_size(key)), 0);
    const int n = RSA_private_decrypt(static_cast<int>(in.size()), in.data(), out.data(),
                                      rsaOf(key), padding);
    if (n > 0) out.resize(static_cast<std::size_t>(n));
    return n;
}

// EVP_PKEY_sign of a SHA-256 digest with the given padding into `sig`, cut to its length.
bool pkeySign(EVP_PKEY* key, int padding, const Bytes& digest, Bytes& sig) {
    CtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    sig.assign(static_cast<std::size_t>(EVP_PKEY_get_size(key)), 0);
    std::size_t length = sig.size();
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), padding) <= 0 ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_sha256()) <= 0 ||
        EVP_PKEY_sign(ctx.get(), sig.data(), &length, digest.data(), digest.size()) <= 0)
        return false;
    sig.resize(length);
    return true;
}

// The entry points a caller signs through: each signs the message's SHA-256 digest (or, for
// EVP_DigestSign, the message) into `sig`.
using SignRoute = bool (*)(EVP_PKEY* key, const std::string& message, Bytes& sig);
bool rsaSignSha256(EVP_PKEY* key, const std::string& message, Bytes& sig) {
    return rsaSign(NID_sha256, keytest::sha256(message), 32, key, sig) == 1;
}
const std::pair<const char*, SignRoute> kRoutes[] = {
    {"RSA_sign", rsaSignSha256},
    {"EVP_PKEY_sign",
     [](EVP_PKEY* key, const std::string& message, Bytes& sig) {
         return pkeySign(key, RSA_PKCS1_PADDING, keytest::sha256(message), sig);
     }},
    {"EVP_DigestSign", keytest::digestSign},
};

// What the public half recovers from a PKCS#1 v1.5 signature: the signed bytes themselves.
Bytes recoverSigned(EVP_PKEY* publicKey, const Bytes& sig) {
    Bytes out(static_cast<std::size_t>(EVP_PKEY_get_size(publicKey)));
    const int n = RSA_public_decrypt(static_cast<int>(sig.size()), sig.data(), out.data(),
                                     rsaOf(publicKey), RSA_PKCS1_PADDING);
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

// RSA_sign once the session is gone: the module refuses the session handle, the signing prints
// its one failure line and fails.
void expectSigningRefusedWithoutSession(EVP_PKEY* key) {
    ERR_clear_error();
    Bytes sig;
    testing::internal::CaptureStdout();
    const bool signedOk = rsaSignSha256(key, "late", sig);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "C_SignInit err=b3\n");
    EXPECT_FALSE(signedOk);
}

// A mock token holding one RSA key (ID 01) and its certificate, bound and logged in, and the
// key opened as key_.
class MockKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        pair_ = keytest::makeKeyPair(dir_.path(), "mock", 1024);
        startToken("");
    }
    void startToken(const std::string& extra) {
        // Each goes before its successor is made: a test module's end restores the environment,
        // which would undo what the next one has set.
        key_.reset();
        token_.reset();
        token_ = std::make_unique<MockToken>(keytest::mockKeyLines(pair_, "01") + extra);
        ASSERT_TRUE(token_->ready());
        key_ = openKey();
        ASSERT_NE(key_, nullptr);
    }
    PkeyPtr openKey() {
        const unsigned char id = 1;
        EVP_PKEY* key = nullptr;
        EXPECT_EQ(GetKey(&token_->layer, &id, 1, &key), 0u);
        return PkeyPtr(key);
    }

    testsupport::TempDir dir_;
    keytest::KeyPair pair_;
    std::unique_ptr<MockToken> token_;
    PkeyPtr key_;
};

}  // namespace

TEST_F(MockKeyTest, SignsSha256ThroughEveryEntryPointAndTheSignatureVerifies) {
    EXPECT_EQ(EVP_PKEY_get_base_id(key_.get()), EVP_PKEY_RSA);
    EXPECT_EQ(EVP_PKEY_get_bits(key_.get()), 1024);
    const std::string message = "sign me on the token";
    for (const auto& [name, sign] : kRoutes) {
        SCOPED_TRACE(name);
        token_->mock.clearLog();
        Bytes sig;
        ASSERT_TRUE(sign(key_.get(), message, sig));
        EXPECT_TRUE(keytest::verifyDigest(pair_.publicKey.get(), EVP_sha256(),
                                          keytest::sha256(message), sig));
        EXPECT_TRUE(keytest::verifyMessage(pair_.publicKey.get(), EVP_sha256(), message, sig));
        EXPECT_EQ(token_->mock.count("C_SignInit"), 1);
        EXPECT_EQ(token_->mock.count("C_Sign"), 1);
    }
}

TEST_F(MockKeyTest, VerificationRunsInSoftwareWithThePublicHalf) {
    const Bytes digest = keytest::sha256("verify me");
    Bytes sig;
    ASSERT_TRUE(rsaSignSha256(key_.get(), "verify me", sig));
    token_->mock.clearLog();
    const auto verify = [&] {
        return RSA_verify(NID_sha256, digest.data(), 32, sig.data(),
                          static_cast<unsigned>(sig.size()), rsaOf(key_.get()));
    };
    EXPECT_EQ(verify(), 1);
    sig[sig.size() / 2] ^= 0x01;
    EXPECT_EQ(verify(), 0);
    EXPECT_TRUE(token_->mock.calls().empty());
    ERR_clear_error();
}

TEST_F(MockKeyTest, DecryptsWhatThePublicKeyEncrypted) {
    const Bytes plain = {'s', 'e', 'c', 'r', 'e', 't', 0, 1, 2};
    const Bytes encrypted = keytest::encryptPkcs1(pair_.publicKey.get(), plain);

    Bytes out;
    ASSERT_EQ(rsaDecrypt(key_.get(), encrypted, RSA_PKCS1_PADDING, out),
              static_cast<int>(plain.size()));
    EXPECT_EQ(out, plain);

    CtxPtr ctx(EVP_PKEY_CTX_new(key_.get(), nullptr));
    ASSERT_TRUE(ctx && EVP_PKEY_decrypt_init(ctx.get()) > 0 &&
                EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) > 0);
    out.assign(static_cast<std::size_t>(EVP_PKEY_get_size(key_.get())), 0);
    std::size_t length = out.size();
    ASSERT_GT(EVP_PKEY_decrypt(ctx.get(), out.data(), &length, encrypted.data(), encrypted.size()),
              0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + length), plain);
    EXPECT_EQ(token_->mock.count("C_Decrypt"), 2);
}

TEST_F(MockKeyTest, Md5Sha1SignsTheThirtySixBytesUnchanged) {
    Bytes digest(36);
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<unsigned char>(i * 7);
    Bytes sig;
    ASSERT_EQ(rsaSign(NID_md5_sha1, digest, 36, key_.get(), sig), 1);
    EXPECT_EQ(recoverSigned(pair_.publicKey.get(), sig), digest);

    token_->mock.clearLog();
    ERR_clear_error();
    EXPECT_EQ(rsaSign(NID_md5_sha1, digest, 35, key_.get(), sig), 0);
    EXPECT_EQ(userReasons(), std::vector<unsigned long>{reasonOf(-3)});
    EXPECT_EQ(token_->mock.count("C_SignInit"), 0);
}

TEST_F(MockKeyTest, OnlyPkcs1PaddingGoesToTheToken) {
    token_->mock.clearLog();
    ERR_clear_error();
    Bytes sig;
    EXPECT_FALSE(pkeySign(key_.get(), RSA_PKCS1_PSS_PADDING, keytest::sha256("pss"), sig));
    EXPECT_EQ(userReasons(), std::vector<unsigned long>{reasonOf(-2)});

    Bytes out;
    EXPECT_EQ(rsaDecrypt(key_.get(), sig, RSA_PKCS1_OAEP_PADDING, out), -1);
    EXPECT_EQ(userReasons(), std::vector<unsigned long>{reasonOf(-2)});
    EXPECT_EQ(token_->mock.count("C_SignInit") + token_->mock.count("C_DecryptInit"), 0);
}

// The token method on a key that holds no token reference or modulus (one a caller built on the
// method itself) refuses instead of reaching a token, as does a digest without a DigestInfo form.
TEST_F(MockKeyTest, KeysWithoutTheirTokenAndDigestsWithoutAnEncodingAreRefused) {
    token_->mock.clearLog();
    ERR_clear_error();
    Bytes sig;
    EXPECT_EQ(rsaSign(NID_undef, keytest::sha256("x"), 32, key_.get(), sig), 0);
    EXPECT_EQ(userReasons(), std::vector<unsigned long>{reasonOf(-4)});

    std::unique_ptr<RSA, decltype(&RSA_free)> bare(RSA_new(), RSA_free);
    ASSERT_EQ(RSA_set_method(bare.get(), RSA_get_method(rsaOf(key_.get()))), 1);
    const Bytes digest = keytest::sha256("y");
    unsigned int size = 0;
    EXPECT_EQ(RSA_sign(NID_sha256, digest.data(), 32, sig.data(), &size, bare.get()), 0);
    EXPECT_EQ(userReasons(), std::vector<unsigned long>{reasonOf(-5)});
    EXPECT_EQ(RSA_private_encrypt(32, digest.data(), sig.data(), bare.get(), RSA_PKCS1_PADDING),
              -1);
    EXPECT_EQ(RSA_private_decrypt(32, digest.data(), sig.data(), bare.get(), RSA_PKCS1_PADDING),
              -1);
    EXPECT_EQ(userReasons(),
              (std::vector<unsigned long>{CKR_KEY_HANDLE_INVALID, CKR_KEY_HANDLE_INVALID}));
    EXPECT_EQ(token_->mock.count("C_SignInit") + token_->mock.count("C_DecryptInit"), 0);
}

// A failing token operation: its CKR value is queued as the reason, the signing calls also print
// one line, and the caller's entry point reports the failure.
TEST_F(MockKeyTest, TokenFailuresAreQueuedAndSigningFailuresPrinted) {
    struct Case {
        const char* fail;
        bool decrypt;
        int expected;  // RSA_sign's result, or RSA_private_decrypt's
        const char* line;
    } cases[] = {
        {"fail C_SignInit 0x30", false, 0, "C_SignInit err=30\n"},
        {"fail C_Sign 0xa4", false, 0, "C_Sign err=a4\n"},
        {"fail C_DecryptInit 0x30", true, -3, ""},
        {"fail C_Decrypt 0x40", true, -4, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fail);
        startToken(std::string(c.fail) + "\n");
        const Bytes digest = keytest::sha256("x");
        Bytes buffer;
        const Bytes encrypted = keytest::encryptPkcs1(pair_.publicKey.get(), digest);
        ERR_clear_error();
        testing::internal::CaptureStdout();
        const int result = c.decrypt ? rsaDecrypt(key_.get(), encrypted, RSA_PKCS1_PADDING, buffer)
                                     : rsaSign(NID_sha256, digest, 32, key_.get(), buffer);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.line);
        EXPECT_EQ(result, c.expected);
        const std::string rv = std::string(c.fail).substr(std::string(c.fail).rfind(' ') + 1);
        EXPECT_EQ(userReasons(), std::vector<unsigned long>{std::stoul(rv, nullptr, 16)});
    }
}

TEST_F(MockKeyTest, SigningAfterLogoutFailsWithTheFailureLine) {
    ASSERT_EQ(token_->layer.logout(), 0u);
    expectSigningRefusedWithoutSession(key_.get());
    EXPECT_EQ(userReasons(), std::vector<unsigned long>{CKR_SESSION_HANDLE_INVALID});
}

TEST_F(MockKeyTest, GetKeyRefusesWhatDoesNotMakeAKey) {
    // 02 has no key material, so no public half; 03 no modulus; 04 is no private key.
    startToken("key slot=1 id=02\nkey slot=1 id=03 pem=" + pair_.pemPath +
               " modulus=no\nkey slot=1 id=04 pem=" + pair_.pemPath + " private=no\n");
    struct Case {
        unsigned char id;
        TokenResult expected;
    } cases[] = {
        {0x05, 0xDA001002u},  // no object
        {0x02, 0xDA001004u},
        {0x03, 0xDA001004u},
        {0x04, 0u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.id));
        EVP_PKEY* key = reinterpret_cast<EVP_PKEY*>(this);  // must be reset
        EXPECT_EQ(GetKey(&token_->layer, &c.id, 1, &key), c.expected);
        if (c.expected != 0) {
            EXPECT_EQ(key, nullptr);
        }
        EXPECT_EQ(FreeKey(c.expected == 0 ? key : nullptr), 0u);
    }
    // The certificate carries the same ID but is no private key.
    EVP_PKEY* key = nullptr;
    const unsigned char certOnly = 0x01;
    ASSERT_EQ(token_->layer.logout(), 0u);
    ASSERT_EQ(token_->layer.login(nullptr), 0u);
    EXPECT_EQ(GetKey(&token_->layer, &certOnly, 1, &key), 0xDA001002u);
    EXPECT_EQ(key, nullptr);
}

TEST(KeyContext, GetKeyChecksModuleThenSessionAndFreeKeyTakesNull) {
    MockToken noSession("");
    TokenContext unbound{};
    ASSERT_EQ(noSession.layer.bound(), 0u);
    const unsigned char id = 1;
    EVP_PKEY* key = nullptr;
    EXPECT_EQ(GetKey(&unbound, &id, 1, &key), 0xDA000190u);
    EXPECT_EQ(GetKey(&noSession.layer, &id, 1, &key), 0xDA000101u);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(FreeKey(nullptr), 0u);
}

// Each key's token reference goes with the key; the sanitized build's leak check at exit fails
// this test if one stays behind.
TEST_F(MockKeyTest, RepeatedOpenAndFreeKeepsEveryKeyWorking) {
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        PkeyPtr key = openKey();
        ASSERT_NE(key, nullptr);
        Bytes sig;
        ASSERT_TRUE(keytest::digestSign(key.get(), "round", sig));
        EXPECT_TRUE(keytest::verifyMessage(pair_.publicKey.get(), EVP_sha256(), "round", sig));
        EXPECT_EQ(FreeKey(key.release()), 0u);
    }
}

TEST(KeySoftHsm, SignsDecryptsAndFailsAfterLogout) {
    const keytest::SoftHsmKeys hsm({"a1b2"});
    const Bytes id = keytest::fromHex("a1b2");

    LayerSession layer(hsm.hsm.kModule);
    ASSERT_EQ(layer.bound(), 0u);
    EVP_PKEY* raw = nullptr;
    ASSERT_EQ(layer.login(nullptr), 0u);  // private keys hidden before the login
    EXPECT_EQ(GetKey(&layer, id.data(), id.size(), &raw), 0xDA001002u);
    ASSERT_EQ(layer.logout(), 0u);
    ASSERT_EQ(layer.login("1234"), 0u);

    X509* rawCert = nullptr;
    ASSERT_EQ(GetCert(&layer, id.data(), id.size(), &rawCert), 0u);
    X509Ptr cert(rawCert);
    EVP_PKEY* certKey = X509_get0_pubkey(cert.get());
    ASSERT_NE(certKey, nullptr);

    ASSERT_EQ(GetKey(&layer, id.data(), id.size(), &raw), 0u);
    PkeyPtr key(raw);
    EXPECT_EQ(EVP_PKEY_eq(key.get(), certKey), 1);  // the public half came from the token

    const std::string message = "signed by SoftHSM";
    for (const auto& [name, sign] : kRoutes) {
        SCOPED_TRACE(name);
        Bytes sig;
        ASSERT_TRUE(sign(key.get(), message, sig));
        EXPECT_TRUE(keytest::verifyDigest(certKey, EVP_sha256(), keytest::sha256(message), sig));
    }

    Bytes digest(36, 0x5A);
    Bytes sig;
    ASSERT_EQ(rsaSign(NID_md5_sha1, digest, 36, key.get(), sig), 1);
    EXPECT_EQ(recoverSigned(certKey, sig), digest);

    const Bytes plain = {'t', 'o', 'k', 'e', 'n'};
    Bytes out;
    ASSERT_EQ(rsaDecrypt(key.get(), keytest::encryptPkcs1(certKey, plain), RSA_PKCS1_PADDING, out),
              static_cast<int>(plain.size()));
    EXPECT_EQ(out, plain);

    ASSERT_EQ(layer.logout(), 0u);
    expectSigningRefusedWithoutSession(key.get());
    ERR_clear_error();
}
