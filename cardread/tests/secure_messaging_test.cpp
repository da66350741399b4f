#include "secure_messaging.h"

#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace cardtest {
namespace {

const Bytes kKey = hex("544553544B4559422D4E4F542D495353");
const Bytes kMacKey = kKey;

// Wraps `command` in place with room for `capacity` bytes; on success `command` is the wrapped
// command.
cardread::Status wrap(Bytes& command, std::size_t capacity) {
    std::size_t length = command.size();
    command.resize(capacity);
    const cardread::Status status =
        cardread::wrapCommand(command.data(), length, capacity, kMacKey.data(), kKey.data());
    if (status == 0) command.resize(length);
    return status;
}

cardread::Status unwrap(Bytes& response, std::uint8_t cla) {
    return cardread::unwrapResponse(response, cla, kMacKey.data(), kKey.data());
}

TEST(SecureMessaging, WrapOfTheProtectedVerifyEnciphersPinBlockAndMac) {
    const Bytes pinBlock = hex("31 32 33 34 FF FF FF FF FF FF");
    Bytes command = hex("8C 20 00 01 0A") + pinBlock;
    ASSERT_EQ(0, wrap(command, 260));
    expectProtectedVerify(command, kKey, pinBlock);
}

TEST(SecureMessaging, TwoWrapsUseDifferentRandomBytes) {
    Bytes a = hex("8C 20 00 01 02 31 32"), b = a;
    ASSERT_EQ(0, wrap(a, 64));
    ASSERT_EQ(0, wrap(b, 64));
    EXPECT_NE(toHex(slice(a, 5, 13)), toHex(slice(b, 5, 13)));
}

TEST(SecureMessaging, WrapLengthsFollowTheClassBits) {
    const struct {
        std::uint8_t cla;
        std::size_t dataLength;
        std::size_t expectedLc;
    } cases[] = {
        {0x80, 10, 10},          // unprotected: unchanged
        {0x84, 10, 8 + 10 + 8},  // R, data, MAC
        {0x88, 10, 8 + 16},      // R, enciphered data padded to 16
        {0x88, 16, 8 + 24},      // a full padding block
        {0x8C, 10, 8 + 24},      // R, enciphered data and MAC
    };
    for (const auto& c : cases) {
        Bytes command = hex("00 20 00 01") + Bytes{static_cast<std::uint8_t>(c.dataLength)} +
                        Bytes(c.dataLength, 0x41);
        command[0] = c.cla;
        ASSERT_EQ(0, wrap(command, 300));
        EXPECT_EQ(c.expectedLc, command[4]) << std::hex << int(c.cla);
        EXPECT_EQ(5 + c.expectedLc, command.size()) << std::hex << int(c.cla);
    }
}

TEST(SecureMessaging, WrapRefusesWhatWouldNotFit) {
    Bytes command = hex("8C 20 00 01 0A") + Bytes(10, 0x31);
    // One byte short of the 37 the protected command needs.
    EXPECT_EQ(cardread::kStatusSecureMessaging, wrap(command, 36));
    Bytes big = hex("8C 20 00 01 F0") + Bytes(0xF0, 0x31);  // Lc would pass 255
    EXPECT_EQ(cardread::kStatusSecureMessaging, wrap(big, 600));
}

// Builds a protected answer R' body SW1 SW2 the way the card does, with OpenSSL.
Bytes protectedResponse(std::uint8_t cla, const Bytes& data, const Bytes& r, bool spoilMac) {
    Bytes body = data;
    if (cla & 0x04) {
        const Bytes cbc = openssl(EVP_des_ede_cbc(), true, kMacKey, r, data, true);
        Bytes mac(cbc.end() - 8, cbc.end());
        if (spoilMac) mac[3] ^= 1;
        body = body + mac;
    }
    if (cla & 0x08) body = openssl(EVP_des_ede_cbc(), true, kKey, r, body, true);
    return r + body + hex("90 00");
}

TEST(SecureMessaging, UnwrapRecoversDataAndChecksTheMac) {
    const Bytes r = hex("0102030405060708");
    const Bytes data = hex("DE AD BE EF 00 11 22");
    const struct {
        std::uint8_t cla;
        bool spoilMac;
        cardread::Status expected;
    } cases[] = {
        {0x84, false, 0},
        {0x88, false, 0},
        {0x8C, false, 0},
        {0x84, true, cardread::kStatusSecureMessaging},
        {0x8C, true, cardread::kStatusSecureMessaging},
    };
    for (const auto& c : cases) {
        Bytes response = protectedResponse(c.cla, data, r, c.spoilMac);
        EXPECT_EQ(c.expected, unwrap(response, c.cla)) << std::hex << int(c.cla);
        if (c.expected == 0) {
            EXPECT_EQ(toHex(data + hex("90 00")), toHex(response));
        }
    }
}

TEST(SecureMessaging, UnwrapRefusesMalformedAnswersWithoutReadingPastThem) {
    const Bytes r = hex("1111111111111111");
    // R', `plain` enciphered as it stands (no padding added), 90 00.
    auto enciphered = [&](const Bytes& plain) {
        return r + openssl(EVP_des_ede_cbc(), true, kKey, r, plain, false) + hex("90 00");
    };
    const struct {
        const char* name;
        std::uint8_t cla;
        Bytes response;
    } cases[] = {
        // A last deciphered byte (pad count) of 0x40 in a 16-byte body.
        {"pad count larger than the data", 0x88, enciphered(Bytes(15, 0x55) + hex("40"))},
        // Enciphered body of 8 bytes that unpads to 2: too short for an 8-byte MAC.
        {"no room for the MAC", 0x8C, enciphered(hex("AA BB 06 06 06 06 06 06"))},
        {"body not whole blocks", 0x88, r + Bytes(12, 0x33) + hex("90 00")},
        {"empty enciphered body", 0x88, r + hex("90 00")},
        {"shorter than R'", 0x84, hex("01 02 03 90 00")},
        {"MAC-only body shorter than a MAC", 0x84, r + hex("01 02 03 90 00")},
    };
    for (const auto& c : cases) {
        Bytes response = c.response;
        EXPECT_EQ(cardread::kStatusSecureMessaging, unwrap(response, c.cla)) << c.name;
    }
}

TEST(SecureMessaging, UnprotectedClassLeavesTheAnswerAlone) {
    Bytes response = hex("01 02 90 00");
    EXPECT_EQ(0, unwrap(response, 0x80));
    EXPECT_EQ("01 02 90 00", toHex(response));
}

}  // namespace
}  // namespace cardtest
