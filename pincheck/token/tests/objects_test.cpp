// Counting and listing keys and certificates, the ID buffer rules and opening certificates,
// against the scriptable test module (what a real token cannot be made to do) and SoftHSM2 with
// keys and certificates imported by pkcs11-tool.
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "key_fixtures.h"
#include "temp_dir.h"

using keytest::Bytes;
using keytest::LayerSession;
using keytest::MockToken;
using keytest::X509Ptr;

namespace {

constexpr TokenResult kNoModule = 0xDA000190u;
constexpr TokenResult kNoSession = 0xDA000101u;
constexpr TokenResult kIdTooSmall = 0x150u;
constexpr TokenResult kDoesNotFit = 0xDA000150u;
constexpr TokenResult kBadArguments = 0xDA000007u;
constexpr TokenResult kNoSuchObject = 0xDA001002u;
constexpr TokenResult kIndexOutOfRange = 0xDA001003u;
constexpr TokenResult kNoCryptoObject = 0xDA001004u;
constexpr CK_ULONG kAllOnes = ~CK_ULONG{0};
constexpr unsigned char kSentinel = 0xEE;

const std::string kId20 = "0102030405060708090a0b0c0d0e0f1011121314";

enum class Kind { Key, Cert };

TokenResult objectId(Kind kind, TokenContext* ctx, CK_ULONG index, unsigned char* id,
                     CK_ULONG* length) {
    return kind == Kind::Key ? GetKeyID(ctx, index, id, length) : GetCertID(ctx, index, id, length);
}

}  // namespace

TEST(KeyLookup, EveryExportChecksModuleThenSession) {
    MockToken noSession("cert slot=1 id=01 value=3000\n");
    TokenContext unbound{};
    ASSERT_EQ(noSession.layer.bound(), 0u);
    unsigned char id[8];
    CK_ULONG length = sizeof id;
    CK_ULONG count = 0;
    X509* cert = nullptr;
    const unsigned char one = 1;
    struct Case {
        TokenContext* ctx;
        TokenResult expected;
    } cases[] = {{&unbound, kNoModule}, {&noSession.layer, kNoSession}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(GetKeyNum(c.ctx, &count), c.expected);
        EXPECT_EQ(GetCertNum(c.ctx, &count), c.expected);
        EXPECT_EQ(GetKeyID(c.ctx, 0, id, &length), c.expected);
        EXPECT_EQ(GetCertID(c.ctx, 0, id, &length), c.expected);
        EXPECT_EQ(GetCert(c.ctx, &one, 1, &cert), c.expected);
        EXPECT_EQ(GetKeyNum(nullptr, &count), kNoModule);
    }
    EXPECT_EQ(noSession.mock.count("C_FindObjectsInit"), 0);
}

TEST(KeyLookup, TwelveKeysGrowTheListingAndTheLastIsFound) {
    std::string lines;
    for (int i = 1; i <= 12; ++i)
        lines += "key slot=1 id=" + keytest::toHex({0xA0, Bytes::value_type(i)}) + "\n";
    MockToken token(lines);
    ASSERT_TRUE(token.ready());

    CK_ULONG count = 0;
    ASSERT_EQ(GetKeyNum(&token.layer, &count), 0u);
    EXPECT_EQ(count, 12u);

    token.mock.clearLog();
    unsigned char id[4] = {0, 0, 0, 0};
    CK_ULONG length = sizeof id;
    ASSERT_EQ(GetKeyID(&token.layer, 11, id, &length), 0u);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(id[0], 0xA0);
    EXPECT_EQ(id[1], 12);
    EXPECT_EQ(id[2], 0);  // room to spare: a zero byte follows
    // One pass with room for ten, a second with room for all twelve.
    EXPECT_EQ(token.mock.count("C_FindObjectsInit"), 2);
    EXPECT_EQ(token.mock.count("C_FindObjectsFinal"), 2);

    length = sizeof id;
    EXPECT_EQ(GetKeyID(&token.layer, 12, id, &length), kIndexOutOfRange);
}

TEST(KeyLookup, NoCertificatesCountZeroAndIndexZeroIsOutOfRange) {
    MockToken token("key slot=1 id=01\n");
    ASSERT_TRUE(token.ready());
    CK_ULONG count = 99;
    EXPECT_EQ(GetCertNum(&token.layer, &count), 0u);
    EXPECT_EQ(count, 0u);
    unsigned char id[8];
    CK_ULONG length = sizeof id;
    EXPECT_EQ(GetCertID(&token.layer, 0, id, &length), kIndexOutOfRange);
}

TEST(KeyLookup, TwentyByteIdFollowsTheBufferRules) {
    struct Case {
        bool nullBuffer;
        CK_ULONG size;
        TokenResult expected;
        bool copied;
        bool zeroAfter;
    } cases[] = {
        {false, 19, kIdTooSmall, false, false},
        {false, 20, 0, true, false},
        {false, 21, 0, true, true},
        {true, 64, kIdTooSmall, false, false},
        {true, 0, kIdTooSmall, false, false},
    };
    MockToken token("key slot=1 id=" + kId20 + "\ncert slot=1 id=" + kId20 + " value=3000\n");
    ASSERT_TRUE(token.ready());
    const Bytes expectedId = keytest::fromHex(kId20);
    for (Kind kind : {Kind::Key, Kind::Cert})
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(kind == Kind::Key ? "key" : "cert") + " buffer " +
                         (c.nullBuffer ? "null " : "") + std::to_string(c.size));
            unsigned char buffer[32];
            std::memset(buffer, kSentinel, sizeof buffer);
            CK_ULONG length = c.size;
            EXPECT_EQ(objectId(kind, &token.layer, 0, c.nullBuffer ? nullptr : buffer, &length),
                      c.expected);
            EXPECT_EQ(length, 20u);
            if (c.copied) {
                EXPECT_EQ(Bytes(buffer, buffer + 20), expectedId);
                EXPECT_EQ(buffer[20], c.zeroAfter ? 0 : kSentinel);
            } else {
                EXPECT_EQ(buffer[0], kSentinel);
            }
        }
}

// The module may report a length it did not deliver: all ones for an ID it does not give, or
// (a broken module) more than the record's field. Such a length is handed to the caller as the
// answer of a length query but never used to copy.
TEST(KeyLookup, UndeliveredOrOversizedIdIsNeverCopied) {
    struct Case {
        const char* line;
        CK_ULONG callerSize;
        bool nullBuffer;
        TokenResult expected;
        CK_ULONG expectedLength;
    } cases[] = {
        {"key slot=1\n", 16, false, kIdTooSmall, kAllOnes},
        {"key slot=1\n", 0, true, kIdTooSmall, kAllOnes},
        {"key slot=1\n", kAllOnes, false, kDoesNotFit, kAllOnes},
        {"key slot=1 id=01 id-length=300\n", 64, false, kIdTooSmall, 300},
        {"key slot=1 id=01 id-length=300\n", 4096, false, kDoesNotFit, 4096},
        {"cert slot=1 value=3000\n", 16, false, kIdTooSmall, kAllOnes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.line) + " size " + std::to_string(c.callerSize));
        MockToken token(c.line);
        ASSERT_TRUE(token.ready());
        const Kind kind = c.line[0] == 'k' ? Kind::Key : Kind::Cert;
        Bytes buffer(4096, kSentinel);
        CK_ULONG length = c.callerSize;
        EXPECT_EQ(objectId(kind, &token.layer, 0, c.nullBuffer ? nullptr : buffer.data(), &length),
                  c.expected);
        EXPECT_EQ(length, c.expectedLength);
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(),
                                [](unsigned char b) { return b == kSentinel; }));
    }
}

TEST(KeyLookup, GetCertOpensOnlyWhatParsesAndFits) {
    testsupport::TempDir dir;
    const keytest::KeyPair pair = keytest::makeKeyPair(dir.path(), "cert", 1024);
    struct Case {
        std::string lines;
        std::string id;
        TokenResult expected;
    } cases[] = {
        {"cert slot=1 id=11 der=" + pair.certDerPath + "\n", "11", 0},
        {"cert slot=1 id=11 der=" + pair.certDerPath + "\n", "12", kNoSuchObject},
        {"key slot=1 id=11\n", "11", kNoSuchObject},
        // The module answers CKR_BUFFER_TOO_SMALL for a value over the 4096-byte field.
        {"cert slot=1 id=11 value-size=5000\n", "11", kDoesNotFit},
        // A module that claims success with a length beyond the field.
        {"cert slot=1 id=11 der=" + pair.certDerPath + " value-length=5000\n", "11", kDoesNotFit},
        {"cert slot=1 id=11 value-size=100\n", "11", kNoCryptoObject},
        {"cert slot=1 id=11 value=\"\"\n", "11", kNoCryptoObject},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lines);
        MockToken token(c.lines);
        ASSERT_TRUE(token.ready());
        const Bytes id = keytest::fromHex(c.id);
        X509* raw = reinterpret_cast<X509*>(&token);  // must be reset to null
        EXPECT_EQ(GetCert(&token.layer, id.data(), id.size(), &raw), c.expected);
        X509Ptr cert(raw);
        if (c.expected != 0) {
            EXPECT_EQ(raw, nullptr);
            continue;
        }
        ASSERT_NE(raw, nullptr);
        EXPECT_EQ(keytest::derOf(raw), pair.certDer);
    }
}

TEST(KeyLookup, CallerIdLongerThanTheFieldIsRefusedBeforeAnySearch) {
    MockToken token("cert slot=1 id=01 value=3000\nkey slot=1 id=01\n");
    ASSERT_TRUE(token.ready());
    token.mock.clearLog();
    const Bytes longId(257, 0x01);
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
    EXPECT_EQ(GetCert(&token.layer, longId.data(), longId.size(), &cert), kBadArguments);
    EXPECT_EQ(GetKey(&token.layer, longId.data(), longId.size(), &key), kBadArguments);
    EXPECT_EQ(GetCert(&token.layer, nullptr, 4, &cert), kBadArguments);
    EXPECT_EQ(cert, nullptr);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(token.mock.count("C_FindObjectsInit"), 0);
}

// Every search and attribute call of the module can fail; the failure comes back with the base,
// and a search that was started is ended all the same, so the next export works.
TEST(KeyLookup, ModuleErrorsInSearchAndAttributeCallsComeBackWithTheBase) {
    enum class Export { KeyNum, CertNum, KeyId, CertId, Cert, Key };
    struct Case {
        std::string fail;
        Export call;
        TokenResult expected;
        bool searchStarted;
    } cases[] = {
        {"fail C_FindObjectsInit 0x30 nth=1", Export::KeyNum, 0xDA000030u, false},
        {"fail C_FindObjects 0x32 nth=1", Export::CertNum, 0xDA000032u, true},
        {"fail C_FindObjects 0x30 nth=2", Export::KeyId, 0xDA000030u, true},
        {"fail C_FindObjectsFinal 0x5 nth=1", Export::CertId, 0xDA000005u, true},
        {"fail C_FindObjectsInit 0x30 nth=1", Export::Cert, 0xDA000030u, false},
        {"fail C_FindObjects 0x30 nth=1", Export::Cert, 0xDA000030u, true},
        {"fail C_FindObjectsFinal 0x30 nth=1", Export::Cert, 0xDA000030u, true},
        {"fail C_GetAttributeValue 0x30 nth=1", Export::Cert, 0xDA000030u, true},
        {"fail C_FindObjectsInit 0x30 nth=1", Export::Key, 0xDA000030u, false},
        {"fail C_FindObjects 0x30 nth=1", Export::Key, 0xDA000030u, true},
        {"fail C_FindObjectsFinal 0x30 nth=1", Export::Key, 0xDA000030u, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fail + " export " + std::to_string(static_cast<int>(c.call)));
        // Login makes no search or attribute call, so nth counts the export's own calls.
        MockToken token("key slot=1 id=01\nkey slot=1 id=02\ncert slot=1 id=01 value=3000\n" +
                        c.fail + "\n");
        ASSERT_TRUE(token.ready());
        const unsigned char id = 1;
        unsigned char buffer[8];
        CK_ULONG value = sizeof buffer;
        X509* cert = nullptr;
        EVP_PKEY* key = nullptr;
        TokenContext* ctx = &token.layer;
        const std::function<TokenResult()> exports[] = {
            [&] { return GetKeyNum(ctx, &value); },
            [&] { return GetCertNum(ctx, &value); },
            [&] { return GetKeyID(ctx, 0, buffer, &value); },
            [&] { return GetCertID(ctx, 0, buffer, &value); },
            [&] { return GetCert(ctx, &id, 1, &cert); },
            [&] { return GetKey(ctx, &id, 1, &key); },
        };
        const TokenResult r = exports[static_cast<int>(c.call)]();
        EXPECT_EQ(r, c.expected);
        EXPECT_EQ(cert, nullptr);
        EXPECT_EQ(key, nullptr);
        EXPECT_EQ(token.mock.count("C_FindObjectsFinal") >= 1, c.searchStarted);
        // A failed C_FindObjectsFinal leaves the module's search open; nothing to check then.
        if (c.fail.find("C_FindObjectsFinal") != std::string::npos) continue;
        CK_ULONG count = 0;
        EXPECT_EQ(GetKeyNum(&token.layer, &count), 0u);
        EXPECT_EQ(count, 2u);
    }
}

// A failed attribute read in a listing is an ID not delivered, not a zero-filled ID.
TEST(KeyLookup, FailedIdReadInAListingReadsAsNotDelivered) {
    MockToken token("key slot=1 id=01\nfail C_GetAttributeValue 0x30 nth=2\n");
    ASSERT_TRUE(token.ready());
    unsigned char buffer[300];
    CK_ULONG length = sizeof buffer;
    EXPECT_EQ(GetKeyID(&token.layer, 0, buffer, &length), kIdTooSmall);
    EXPECT_EQ(length, kAllOnes);
    length = sizeof buffer;  // the next listing reads it again
    EXPECT_EQ(GetKeyID(&token.layer, 0, buffer, &length), 0u);
    EXPECT_EQ(length, 1u);
}

TEST(KeyLookupSoftHsm, ListsAndOpensImportedObjects) {
    const std::vector<std::string> ids = {"c1", kId20};
    const keytest::SoftHsmKeys token(ids);
    LayerSession layer(token.hsm.kModule);
    ASSERT_EQ(layer.bound(), 0u);
    // Without a login the private keys stay hidden; the certificates are public.
    ASSERT_EQ(layer.login(nullptr), 0u);
    CK_ULONG count = 99;
    EXPECT_EQ(GetKeyNum(&layer, &count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(GetCertNum(&layer, &count), 0u);
    EXPECT_EQ(count, 2u);
    ASSERT_EQ(layer.logout(), 0u);
    ASSERT_EQ(layer.login("1234"), 0u);

    for (Kind kind : {Kind::Key, Kind::Cert}) {
        SCOPED_TRACE(kind == Kind::Key ? "keys" : "certs");
        ASSERT_EQ(kind == Kind::Key ? GetKeyNum(&layer, &count) : GetCertNum(&layer, &count), 0u);
        ASSERT_EQ(count, 2u);
        std::set<std::string> listed;
        for (CK_ULONG index = 0; index < count; ++index) {
            CK_ULONG length = 0;
            ASSERT_EQ(objectId(kind, &layer, index, nullptr, &length), kIdTooSmall);
            Bytes id(length + 1, kSentinel);
            length = id.size();
            ASSERT_EQ(objectId(kind, &layer, index, id.data(), &length), 0u);
            EXPECT_EQ(length, id.size() - 1);
            EXPECT_EQ(id.back(), 0);
            id.pop_back();
            listed.insert(keytest::toHex(id));
        }
        EXPECT_EQ(listed, (std::set<std::string>(ids.begin(), ids.end())));
        unsigned char buffer[64];
        CK_ULONG length = sizeof buffer;
        EXPECT_EQ(objectId(kind, &layer, 2, buffer, &length), kIndexOutOfRange);
    }

    for (std::size_t i = 0; i < ids.size(); ++i) {
        const Bytes id = keytest::fromHex(ids[i]);
        X509* raw = nullptr;
        ASSERT_EQ(GetCert(&layer, id.data(), id.size(), &raw), 0u);
        X509Ptr cert(raw);
        EXPECT_EQ(keytest::derOf(raw), token.pairs[i].certDer);
    }
    const Bytes unknown = keytest::fromHex("c2");
    X509* raw = nullptr;
    EXPECT_EQ(GetCert(&layer, unknown.data(), unknown.size(), &raw), kNoSuchObject);
    EXPECT_EQ(raw, nullptr);
}
