#include "des_cipher.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace cardtest {
namespace {

using cardread::kDesBlockSize;

struct KnownAnswer {
    const char* key;
    const char* plain;
    const char* cipher;
};

void PrintTo(const KnownAnswer& c, std::ostream* os) {
    *os << c.key << '/' << c.plain;
}

// Published DES known answers: the worked example of the standard's tutorial literature, the
// NBS validation tables (variable plaintext, variable key, S-box tests) and classic vectors.
const KnownAnswer kDesKnownAnswers[] = {
    {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
    {"0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "ED39D950FA74BCC4"},
};

class DesKnownAnswer : public ::testing::TestWithParam<KnownAnswer> {};

// Single DES, and triple DES with equal halves, which is single DES again.
TEST_P(DesKnownAnswer, SingleAndEqualHalvesTripleDesReproduceIt) {
    const KnownAnswer& ka = GetParam();
    const Bytes key = hex(ka.key);
    Bytes block = hex(ka.plain);
    cardread::desEncryptBlock(block.data(), key.data());
    EXPECT_EQ(toHex(hex(ka.cipher)), toHex(block));
    cardread::desDecryptBlock(block.data(), key.data());
    EXPECT_EQ(toHex(hex(ka.plain)), toHex(block)) << "decipher";

    const Bytes doubled = key + key;
    block = hex(ka.plain);
    cardread::tripleDesEncryptBlock(block.data(), doubled.data());
    EXPECT_EQ(toHex(hex(ka.cipher)), toHex(block)) << "triple DES";
    cardread::tripleDesDecryptBlock(block.data(), doubled.data());
    EXPECT_EQ(toHex(hex(ka.plain)), toHex(block)) << "triple DES decipher";
}

INSTANTIATE_TEST_SUITE_P(Published, DesKnownAnswer, ::testing::ValuesIn(kDesKnownAnswers),
                         [](const ::testing::TestParamInfo<KnownAnswer>& info) {
                             return std::string("Key") + info.param.key + "Plain" +
                                    info.param.plain;
                         });

TEST(DesCipher, TripleDesBlocksAgreeWithOpenSslEcb) {
    for (unsigned seed = 1; seed <= 40; ++seed) {
        const Bytes key = randomBytes(16, seed);
        const Bytes plain = randomBytes(8, seed + 1000);
        const Bytes expected = openssl(EVP_des_ede_ecb(), true, key, {}, plain, false);
        Bytes block = plain;
        cardread::tripleDesEncryptBlock(block.data(), key.data());
        EXPECT_EQ(toHex(expected), toHex(block)) << "seed " << seed;
        cardread::tripleDesDecryptBlock(block.data(), key.data());
        EXPECT_EQ(toHex(plain), toHex(block)) << "seed " << seed;
    }
}

// OpenSSL's PKCS padding is the same rule: p bytes of value p, a full block when aligned.
TEST(DesCipher, CbcEncryptPaddedAgreesWithOpenSslAndGrowsToTheNextBlock) {
    for (std::size_t length : {0u, 1u, 7u, 8u, 16u, 18u, 23u, 40u}) {
        const Bytes key = randomBytes(16, static_cast<unsigned>(length) + 7);
        const Bytes iv = randomBytes(8, static_cast<unsigned>(length) + 77);
        const Bytes plain = randomBytes(length, static_cast<unsigned>(length) + 777);
        const Bytes expected = openssl(EVP_des_ede_cbc(), true, key, iv, plain, true);

        Bytes buffer = plain;
        buffer.resize(length + kDesBlockSize);
        std::size_t n = length;
        cardread::cbcEncryptPadded(iv.data(), buffer.data(), n, key.data());
        EXPECT_EQ((length / 8 + 1) * 8, n) << "length " << length;
        buffer.resize(n);
        EXPECT_EQ(toHex(expected), toHex(buffer)) << "length " << length;

        ASSERT_TRUE(cardread::cbcDecrypt(iv.data(), buffer.data(), n, key.data()));
        const std::size_t pad = buffer.back();
        EXPECT_EQ(n - length, pad);
        buffer.resize(n - pad);
        EXPECT_EQ(toHex(plain), toHex(buffer));
    }
}

TEST(DesCipher, CbcDecryptAgreesWithOpenSslAndRefusesPartialBlocks) {
    const Bytes key = randomBytes(16, 5);
    const Bytes iv = randomBytes(8, 6);
    const Bytes cipher = randomBytes(32, 7);
    const Bytes expected = openssl(EVP_des_ede_cbc(), false, key, iv, cipher, false);
    Bytes buffer = cipher;
    ASSERT_TRUE(cardread::cbcDecrypt(iv.data(), buffer.data(), buffer.size(), key.data()));
    EXPECT_EQ(toHex(expected), toHex(buffer));

    Bytes odd = cipher;
    EXPECT_FALSE(cardread::cbcDecrypt(iv.data(), odd.data(), 20, key.data()));
    EXPECT_EQ(toHex(cipher), toHex(odd));
}

// The MAC is the last block of a padded CBC encipherment with the chaining value as IV.
TEST(DesCipher, CbcMacIsTheLastBlockOfThePaddedCbcEncipherment) {
    for (std::size_t length : {0u, 3u, 8u, 10u, 16u, 18u, 31u}) {
        const Bytes key = randomBytes(16, static_cast<unsigned>(length) + 11);
        const Bytes iv = randomBytes(8, static_cast<unsigned>(length) + 111);
        const Bytes data = randomBytes(length, static_cast<unsigned>(length) + 1111);
        const Bytes cbc = openssl(EVP_des_ede_cbc(), true, key, iv, data, true);
        std::uint8_t mac[8];
        cardread::cbcMac(iv.data(), data.data(), data.size(), key.data(), mac);
        EXPECT_EQ(toHex(Bytes(cbc.end() - 8, cbc.end())), toHex(Bytes(mac, mac + 8)))
            << "length " << length;
    }
}

TEST(DesCipher, CbcMacOfNothingEnciphersTheChainingValueXorEights) {
    const Bytes key = randomBytes(16, 99);
    const Bytes iv = hex("0011223344556677");
    Bytes expected = iv;
    for (auto& b : expected) b ^= 0x08;
    cardread::tripleDesEncryptBlock(expected.data(), key.data());
    std::uint8_t mac[8];
    cardread::cbcMac(iv.data(), nullptr, 0, key.data(), mac);
    EXPECT_EQ(toHex(expected), toHex(Bytes(mac, mac + 8)));
}

TEST(DesCipher, EcbDecryptUnpadStripsOnlyTheEightyZeroPadding) {
    const Bytes key = hex("544553544B444B31544553544B444B32");
    const struct {
        const char* name;
        Bytes plain;  // enciphered with OpenSSL before the call
        long expectedLength;
    } cases[] = {
        {"sixteen bytes, 80, seven 00", randomBytes(16, 1) + hex("80 00 00 00 00 00 00 00"), 16},
        {"80 as the last byte", hex("01 02 03 04 05 06 07 80"), 7},
        {"80 alone", hex("80 00 00 00 00 00 00 00"), 0},
        {"ends in 01", hex("01 02 03 04 05 06 07 01"), -1},
        {"all zero", Bytes(16, 0), -1},
        {"non-zero after the 80", hex("AA 80 00 00 00 00 00 01"), -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes cipher = openssl(EVP_des_ede_ecb(), true, key, {}, c.plain, false);
        const cardread::UnpaddedPlaintext out =
            cardread::ecbDecryptUnpad(cipher.data(), cipher.size(), key.data());
        EXPECT_EQ(c.expectedLength, out.length);
        if (c.expectedLength >= 0) {
            const auto n = static_cast<std::size_t>(c.expectedLength);
            ASSERT_EQ(cipher.size() + 8, out.bytes.size());
            EXPECT_EQ(toHex(slice(c.plain, 0, n)),
                      toHex(Bytes(out.bytes.data(), out.bytes.data() + n)));
            EXPECT_EQ(0, out.bytes[n]);
        } else {
            EXPECT_TRUE(out.bytes.empty());
        }
    }
}

TEST(DesCipher, EcbDecryptUnpadRefusesALengthThatIsNotWholeBlocks) {
    const Bytes key(16, 0x11);
    const Bytes data(20, 0x22);
    EXPECT_EQ(-1, cardread::ecbDecryptUnpad(data.data(), data.size(), key.data()).length);
}

}  // namespace
}  // namespace cardtest
