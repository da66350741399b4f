#include "read_procedures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "proprietary_commands.h"
#include "test_support.h"

namespace {

using cardtest::operator+;

using cardtest::Bytes;
using cardtest::Exchange;
using cardtest::expect;
using cardtest::hex;
using cardtest::text;
using cardtest::toHex;

const Bytes kKeyB = hex("544553544B4559422D4E4F542D495353");
const Bytes kAuthKey = hex("54455354415554482D4E4F542D495353");
const Bytes kChallenge = hex("0102030405060708");
const Bytes kPin1234 = hex("31 32 33 34 FF FF FF FF FF FF");

using Script = std::vector<Exchange>;

// 11 header bytes, then "A001" with mask `mask` and "B002" with mask 3F.
Bytes mainIndex(std::uint8_t mask) {
    Bytes index = text("IDXHEADER..") + text("A001-") + Bytes{mask} + text("B002-") + Bytes{0x3F};
    index.resize(140, 0);
    return index;
}

Bytes record(int file) {
    return cardtest::randomBytes(1000, static_cast<unsigned>(file));
}

std::string selectMain(const char* fid) {
    return std::string("80 A4 00 00 02 ") + fid;
}

// The script with its last `drop` exchanges left out and the new last one answered `answer`.
Script answeringLast(Script s, const Bytes& answer, std::size_t drop = 0) {
    s.resize(s.size() - drop);
    s.back().response = answer;
    return s;
}

Script indexRead(std::uint8_t mask) {
    return {expect(selectMain("3F 00"), "90 00"), expect(selectMain("09 00"), "90 00"),
            expect(selectMain("09 04"), "90 00"),
            Exchange{hex("80 B0 00 00 8C"), nullptr, mainIndex(mask) + hex("90 00")}};
}

// Checks the 37-byte protected VERIFY by deciphering it with OpenSSL.
Exchange protectedVerify(const Bytes& expectedPinBlock, const std::string& answer) {
    Exchange e;
    e.check = [expectedPinBlock](const Bytes& sent) {
        cardtest::expectProtectedVerify(sent, kKeyB, expectedPinBlock);
    };
    e.response = hex(answer);
    return e;
}

Script pinVerify(const Bytes& pinBlock, const std::string& answer = "90 00") {
    return {expect(selectMain("3F 00"), "90 00"), expect(selectMain("08 00"), "90 00"),
            expect(selectMain("08 10"), "90 00"), protectedVerify(pinBlock, answer)};
}

Script authentication() {
    const Bytes cryptogram =
        cardtest::openssl(EVP_des_ede_ecb(), true, kAuthKey, {}, kChallenge, false);
    return {expect(selectMain("3F 00"), "90 00"), expect(selectMain("09 00"), "90 00"),
            expect(selectMain("09 10"), "90 00"),
            Exchange{hex("80 84 00 00 08"), nullptr, kChallenge + hex("90 00")},
            Exchange{hex("80 82 01 22 08") + cryptogram, nullptr, hex("90 00")}};
}

Script recordRead(int bit) {
    const Bytes data = record(bit);
    Script s = {Exchange{hex("80 A4 00 00 02 AC") + Bytes{static_cast<std::uint8_t>(1 + bit)},
                         nullptr, hex("90 00")}};
    for (int off = 0; off < 1000; off += 200) {
        s.push_back(Exchange{hex("80 B0") + Bytes{static_cast<std::uint8_t>(off >> 8),
                                                  static_cast<std::uint8_t>(off), 0xC8},
                             nullptr,
                             Bytes(data.begin() + off, data.begin() + off + 200) + hex("90 00")});
    }
    return s;
}

cardread::ReadRequest request(const std::string& pin, const char* key, std::uint8_t* out,
                              int* ioLength) {
    return cardread::ReadRequest{reinterpret_cast<const std::uint8_t*>(pin.data()),
                                 static_cast<int>(pin.size()), key, out, ioLength};
}

struct MainCardRead : ::testing::Test {
    cardread::KeyStore keys;
    void SetUp() override {
        std::memcpy(keys.keyB.data(), kKeyB.data(), 16);
        std::memcpy(keys.macKey.data(), kKeyB.data(), 16);
        keys.installed = true;
    }
    cardread::Status read(cardtest::ScriptedChannel& channel, const std::string& pin,
                          const char* key, std::uint8_t* out, int* ioLength) {
        return cardread::readMainCard(channel, keys, kAuthKey.data(), kAuthKey.size(),
                                      request(pin, key, out, ioLength));
    }
};

TEST_F(MainCardRead, SizeQuerySendsNoPin) {
    cardtest::ScriptedChannel channel(indexRead(0x05));
    int length = 0;
    EXPECT_EQ(cardread::kStatusOk, read(channel, "1234", "A001", nullptr, &length));
    EXPECT_EQ(2000, length);
}

TEST_F(MainCardRead, MaskFiveReadsFilesOneAndThreeIntoTwoSlots) {
    cardtest::ScriptedChannel channel(indexRead(0x05) + pinVerify(kPin1234) + authentication() +
                                      recordRead(0) + recordRead(2));
    Bytes out(8000, 0xEE);
    int length = 8000;
    EXPECT_EQ(cardread::kStatusOk, read(channel, "1234", "A001", out.data(), &length));
    EXPECT_EQ(2000, length);
    EXPECT_EQ(toHex(record(0)), toHex(Bytes(out.begin(), out.begin() + 1000)));
    EXPECT_EQ(toHex(record(2)), toHex(Bytes(out.begin() + 1000, out.begin() + 2000)));
    EXPECT_EQ(0xEE, out[2000]);
}

TEST_F(MainCardRead, OnlyTheFirstTenPinBytesAreSent) {
    cardtest::ScriptedChannel channel(indexRead(0x00) + pinVerify(text("0123456789")) +
                                      authentication());
    Bytes out(10, 0xEE);
    int length = 10;
    EXPECT_EQ(cardread::kStatusOk, read(channel, "0123456789AB", "A001", out.data(), &length));
    EXPECT_EQ(0, length);
    EXPECT_EQ(toHex(Bytes(10, 0xEE)), toHex(out));
}

TEST_F(MainCardRead, PinContextFallsBackToDf5030) {
    cardtest::ScriptedChannel channel(indexRead(0x00) +
                                      Script{expect(selectMain("3F 00"), "6A 82"),  // not checked
                                             expect(selectMain("08 00"), "6A 82"),
                                             expect(selectMain("50 30"), "90 00"),
                                             expect(selectMain("08 10"), "63 C2")});
    Bytes out(10);
    int length = 10;
    EXPECT_EQ(0x63C2, read(channel, "1234", "A001", out.data(), &length));
    EXPECT_EQ(10, length);
}

TEST_F(MainCardRead, FailuresStopTheReadWithTheirStatus) {
    const struct {
        const char* name;
        Script script;
        int capacity;
        const char* key;
        cardread::Status expected;
    } cases[] = {
        {"capacity 1999 for two records, before any PIN", indexRead(0x03), 1999, "A001",
         cardread::kStatusBufferTooSmall},
        {"wrong PIN, one try left", indexRead(0x05) + pinVerify(kPin1234, "63 C1"), 6000, "A001",
         0x63C1},
        {"index DF missing",
         Script{expect(selectMain("3F 00"), "90 00"), expect(selectMain("09 00"), "6A 82")}, 6000,
         "A001", 0x6A82},
        // 141 bytes for 140 asked
        {"answer longer than asked",
         answeringLast(indexRead(0x05), mainIndex(0x05) + hex("00 90 00")), 6000, "A001",
         cardread::kStatusBufferTooSmall},
        {"answer without a status word", answeringLast(indexRead(0x05), hex("90")), 6000, "A001",
         cardread::kStatusBadResponse},
        // beyond the 300-byte buffer
        {"answer beyond the receive buffer",
         answeringLast(indexRead(0x05), Bytes(400, 0x41) + hex("90 00")), 6000, "A001",
         cardread::kPcscInsufficientBuffer},
        {"unknown record key", indexRead(0x05), 6000, "Z999", cardread::kStatusRecordNotFound},
        {"card refuses the authentication",
         indexRead(0x01) + pinVerify(kPin1234) + answeringLast(authentication(), hex("69 82")),
         6000, "A001", 0x6982},
        {"short challenge",
         indexRead(0x01) + pinVerify(kPin1234) +
             answeringLast(authentication(), hex("01 02 03 90 00"), 1),
         6000, "A001", cardread::kStatusBadResponse},
        {"card removed",
         Script{Exchange{hex(selectMain("3F 00")), nullptr, {}, cardread::kPcscRemovedCard}}, 6000,
         "A001", cardread::kPcscRemovedCard},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cardtest::ScriptedChannel channel(c.script);
        Bytes out(6000);
        int length = c.capacity;
        EXPECT_EQ(c.expected, read(channel, "1234", c.key, out.data(), &length));
        EXPECT_EQ(c.capacity, length) << "length written on failure";
    }
}

TEST_F(MainCardRead, AuthenticationKeyOfWrongLengthIsRefused) {
    cardtest::ScriptedChannel channel({});
    cardread::ProprietaryCommands card(channel, keys);
    EXPECT_EQ(cardread::kStatusBadAuthKeyLength,
              card.externalAuthenticate(0x22, kAuthKey.data(), 8));
}

// STARCOS kind ------------------------------------------------------------------------------

Bytes fci(std::size_t size) {
    return hex("62 0A 80 02") +
           Bytes{static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)} +
           hex("82 01 01 83 02 00 00 90 00");
}

Script starcosIndex() {
    Bytes index = text("STARIDXHDR.") + text("A001-") + Bytes{0x05} + text("C003-") + Bytes{0x00};
    index.resize(100, 0);
    return {expect("00 A4 00 0C 02 3F 00", "90 00"),
            Exchange{hex("00 A4 00 00 02 FE 15"), nullptr, fci(100)},
            Exchange{hex("00 B0 00 00 00"), nullptr, index + hex("90 00")}};
}

Script starcosPin(const std::string& verify, const std::string& answer) {
    return {expect("00 A4 04 0C 0C A0 00 00 00 63 50 4B 43 53 2D 31 35", "90 00"),
            expect("00 20 00 82 08 " + verify, answer)};
}

Exchange answered(const char* command, const Bytes& answer) {
    return Exchange{hex(command), nullptr, answer};
}

cardread::Status readStarcos(cardtest::ScriptedChannel& channel, const std::string& pin,
                             const char* key, std::uint8_t* out, int* ioLength) {
    return cardread::readStarcosCard(channel, request(pin, key, out, ioLength));
}

TEST(StarcosCardRead, ReadsAShortAndAChunkedFileAndPadsThePinWithBlanks) {
    const Bytes file1 = cardtest::randomBytes(40, 1);
    const Bytes file3 = cardtest::randomBytes(300, 3);
    cardtest::ScriptedChannel channel(
        starcosIndex() + starcosPin("31 32 33 34 20 20 20 20", "90 00") +
        Script{answered("00 A4 00 00 02 AC 01", fci(40)),
               answered("00 B0 00 00 00", file1 + hex("90 00")),
               answered("00 A4 00 00 02 AC 03", fci(300)),
               answered("00 B0 00 00 FC", Bytes(file3.begin(), file3.begin() + 252) + hex("90 00")),
               answered("00 B0 00 FC 30", Bytes(file3.begin() + 252, file3.end()) + hex("61 00"))});
    Bytes out(2000, 0xEE);
    int length = 2000;
    EXPECT_EQ(cardread::kStatusOk, readStarcos(channel, "1234", "A001", out.data(), &length));
    EXPECT_EQ(2000, length);
    EXPECT_EQ(toHex(file1), toHex(Bytes(out.begin(), out.begin() + 40)));
    EXPECT_EQ(toHex(Bytes(960, 0xEE)), toHex(Bytes(out.begin() + 40, out.begin() + 1000)));
    EXPECT_EQ(toHex(file3), toHex(Bytes(out.begin() + 1000, out.begin() + 1300)));
    EXPECT_EQ(toHex(Bytes(700, 0xEE)), toHex(Bytes(out.begin() + 1300, out.end())));
}

TEST(StarcosCardRead, OnlyTheFirstEightPinBytesAreSent) {
    cardtest::ScriptedChannel channel(starcosIndex() +
                                      starcosPin("31 32 33 34 35 36 37 38", "63 C2"));
    Bytes out(2000);
    int length = 2000;
    EXPECT_EQ(0x63C2, readStarcos(channel, "1234567890", "A001", out.data(), &length));
}

TEST(StarcosCardRead, SizeAndFileChecksGiveStatusesNotOverruns) {
    const Exchange selectMf = expect("00 A4 00 0C 02 3F 00", "90 00");
    const Script withPin = starcosIndex() + starcosPin("31 32 33 34 20 20 20 20", "90 00");
    auto withFile = [&](const Bytes& fciAnswer, const Script& reads) {
        return withPin + Script{answered("00 A4 00 00 02 AC 01", fciAnswer)} + reads;
    };
    const struct {
        const char* name;
        Script script;
        const char* key;
        cardread::Status expected;
    } cases[] = {
        {"index file above 140 bytes", Script{selectMf, answered("00 A4 00 00 02 FE 15", fci(141))},
         "A001", cardread::kStatusBufferTooSmall},
        {"FCI of five bytes",
         Script{selectMf, answered("00 A4 00 00 02 FE 15", hex("62 03 80 01 00 90 00"))}, "A001",
         cardread::kStatusBadResponse},
        {"index shorter than its FCI says",
         Script{selectMf, answered("00 A4 00 00 02 FE 15", fci(100)),
                answered("00 B0 00 00 00", hex("41 42 90 00"))},
         "A001", cardread::kStatusBadResponse},
        {"index file missing", {selectMf, expect("00 A4 00 00 02 FE 15", "6A 82")}, "A001", 0x6A82},
        {"key only in the first 11 bytes", starcosIndex(), "STAR", cardread::kStatusRecordNotFound},
        {"data file above 1000 bytes", withFile(fci(1001), {}), "A001",
         cardread::kStatusBufferTooSmall},
        {"chunk longer than asked",
         withFile(fci(300), {answered("00 B0 00 00 FC", Bytes(253, 0x41) + hex("90 00"))}), "A001",
         cardread::kStatusBufferTooSmall},
        {"chunk shorter than asked",
         withFile(fci(300), {answered("00 B0 00 00 FC", Bytes(100, 0x41) + hex("90 00"))}), "A001",
         cardread::kStatusBadResponse},
        {"second chunk refused",
         withFile(fci(300), {answered("00 B0 00 00 FC", Bytes(252, 0x41) + hex("90 00")),
                             expect("00 B0 00 FC 30", "6B 00")}),
         "A001", 0x6B00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cardtest::ScriptedChannel channel(c.script);
        Bytes out(2000);
        int length = 2000;
        EXPECT_EQ(c.expected, readStarcos(channel, "1234", c.key, out.data(), &length));
        EXPECT_EQ(2000, length);
    }
}

}  // namespace
