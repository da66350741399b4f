#include "read_procedures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "proprietary_commands.h"
#include "test_support.h"

namespace cardtest {
namespace {

const Bytes kKeyB = hex("544553544B4559422D4E4F542D495353");
const Bytes kAuthKey = hex("54455354415554482D4E4F542D495353");
const Bytes kChallenge = hex("0102030405060708");
const Bytes kPin1234 = hex("31 32 33 34 FF FF FF FF FF FF");

Bytes record(int file) {
    return randomBytes(1000, static_cast<unsigned>(file));
}

// The script with its last `drop` exchanges left out and the new last one answered `answer`.
Script answeringLast(Script s, const Bytes& answer, std::size_t drop = 0) {
    s.resize(s.size() - drop);
    s.back().response = answer;
    return s;
}

// Checks the 37-byte protected VERIFY by deciphering it with OpenSSL.
Exchange protectedVerify(const Bytes& expectedPinBlock, const std::string& answer) {
    return Exchange{{},
                    [expectedPinBlock](const Bytes& sent) {
                        expectProtectedVerify(sent, kKeyB, expectedPinBlock);
                    },
                    hex(answer)};
}

Script pinVerify(const Bytes& pinBlock, const std::string& answer = "90 00") {
    return selectPath("08 00", "08 10") + Script{protectedVerify(pinBlock, answer)};
}

Script authentication() {
    const Bytes cryptogram = openssl(EVP_des_ede_ecb(), true, kAuthKey, {}, kChallenge, false);
    return selectPath("09 00", "09 10") +
           Script{expect("80 84 00 00 08", kChallenge + hex("90 00")),
                  Exchange{hex("80 82 01 22 08") + cryptogram, nullptr, hex("90 00")}};
}

Script recordRead(int bit) {
    const Bytes data = record(bit);
    Script s = {Exchange{hex("80 A4 00 00 02 AC") + Bytes{static_cast<std::uint8_t>(1 + bit)},
                         nullptr, hex("90 00")}};
    for (int off = 0; off < 1000; off += 200) {
        s.push_back(Exchange{hex("80 B0") + Bytes{static_cast<std::uint8_t>(off >> 8),
                                                  static_cast<std::uint8_t>(off), 0xC8},
                             nullptr, slice(data, off, off + 200) + hex("90 00")});
    }
    return s;
}

// What a read left behind: its status, the length written back and the whole buffer.
struct Outcome {
    cardread::Status status;
    int length;
    Bytes out;
};

// Runs `read` against the script into a buffer of `capacity` bytes of EE; a capacity of 0
// stands for the size query (no buffer).
template <typename ReadProcedure>
Outcome run(ReadProcedure read, const Script& script, const std::string& pin, const char* key,
            int capacity) {
    ScriptedChannel channel(script);
    Outcome o{0, capacity, Bytes(static_cast<std::size_t>(capacity), 0xEE)};
    o.status =
        read(channel, cardread::ReadRequest{reinterpret_cast<const std::uint8_t*>(pin.data()),
                                            static_cast<int>(pin.size()), key,
                                            capacity == 0 ? nullptr : o.out.data(), &o.length});
    return o;
}

struct MainCardRead : ::testing::Test {
    cardread::KeyStore keys;
    void SetUp() override {
        std::memcpy(keys.keyB.data(), kKeyB.data(), 16);
        std::memcpy(keys.macKey.data(), kKeyB.data(), 16);
        keys.installed = true;
    }
    Outcome read(const Script& script, const std::string& pin, const char* key, int capacity) {
        return run(
            [this](cardread::CardChannel& channel, const cardread::ReadRequest& request) {
                return cardread::readMainCard(channel, keys, kAuthKey.data(), kAuthKey.size(),
                                              request);
            },
            script, pin, key, capacity);
    }
};

TEST_F(MainCardRead, SizeQuerySendsNoPin) {
    const Outcome r = read(indexRead(0x05), "1234", "A001", 0);
    EXPECT_EQ(cardread::kStatusOk, r.status);
    EXPECT_EQ(2000, r.length);
}

TEST_F(MainCardRead, MaskFiveReadsFilesOneAndThreeIntoTwoSlots) {
    const Outcome r = read(
        indexRead(0x05) + pinVerify(kPin1234) + authentication() + recordRead(0) + recordRead(2),
        "1234", "A001", 8000);
    EXPECT_EQ(cardread::kStatusOk, r.status);
    EXPECT_EQ(2000, r.length);
    EXPECT_EQ(toHex(record(0)), toHex(slice(r.out, 0, 1000)));
    EXPECT_EQ(toHex(record(2)), toHex(slice(r.out, 1000, 2000)));
    EXPECT_EQ(0xEE, r.out[2000]);
}

TEST_F(MainCardRead, OnlyTheFirstTenPinBytesAreSent) {
    const Outcome r = read(indexRead(0x00) + pinVerify(text("0123456789")) + authentication(),
                           "0123456789AB", "A001", 10);
    EXPECT_EQ(cardread::kStatusOk, r.status);
    EXPECT_EQ(0, r.length);
    EXPECT_EQ(toHex(Bytes(10, 0xEE)), toHex(r.out));
}

TEST_F(MainCardRead, PinContextFallsBackToDf5030) {
    const Outcome r =
        read(indexRead(0x00) + Script{expect(selectMain("3F 00"), "6A 82"),  // not checked
                                      expect(selectMain("08 00"), "6A 82"),
                                      expect(selectMain("50 30"), "90 00"),
                                      expect(selectMain("08 10"), "63 C2")},
             "1234", "A001", 10);
    EXPECT_EQ(0x63C2, r.status);
    EXPECT_EQ(10, r.length);
}

TEST_F(MainCardRead, FailuresStopTheReadWithTheirStatus) {
    const struct {
        const char* name;
        Script script;
        cardread::Status expected;
        int capacity = 6000;
        const char* key = "A001";
    } cases[] = {
        {"capacity 1999 for two records, before any PIN", indexRead(0x03),
         cardread::kStatusBufferTooSmall, 1999},
        {"wrong PIN, one try left", indexRead(0x05) + pinVerify(kPin1234, "63 C1"), 0x63C1},
        {"index DF missing",
         Script{expect(selectMain("3F 00"), "90 00"), expect(selectMain("09 00"), "6A 82")},
         0x6A82},
        // 141 bytes for 140 asked
        {"answer longer than asked",
         answeringLast(indexRead(0x05), mainIndex(0x05) + hex("00 90 00")),
         cardread::kStatusBufferTooSmall},
        {"answer without a status word", answeringLast(indexRead(0x05), hex("90")),
         cardread::kStatusBadResponse},
        // beyond the 300-byte buffer
        {"answer beyond the receive buffer",
         answeringLast(indexRead(0x05), Bytes(400, 0x41) + hex("90 00")),
         cardread::kPcscInsufficientBuffer},
        {"unknown record key", indexRead(0x05), cardread::kStatusRecordNotFound, 6000, "Z999"},
        {"card refuses the authentication",
         indexRead(0x01) + pinVerify(kPin1234) + answeringLast(authentication(), hex("69 82")),
         0x6982},
        {"short challenge",
         indexRead(0x01) + pinVerify(kPin1234) +
             answeringLast(authentication(), hex("01 02 03 90 00"), 1),
         cardread::kStatusBadResponse},
        {"card removed",
         Script{Exchange{hex(selectMain("3F 00")), nullptr, {}, cardread::kPcscRemovedCard}},
         cardread::kPcscRemovedCard},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = read(c.script, "1234", c.key, c.capacity);
        EXPECT_EQ(c.expected, r.status);
        EXPECT_EQ(c.capacity, r.length) << "length written on failure";
    }
}

TEST_F(MainCardRead, AuthenticationKeyOfWrongLengthIsRefused) {
    ScriptedChannel channel({});
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
    return {expect("00 A4 00 0C 02 3F 00", "90 00"), expect("00 A4 00 00 02 FE 15", fci(100)),
            expect("00 B0 00 00 00", index + hex("90 00"))};
}

Script starcosPin(const std::string& verify, const std::string& answer) {
    return {expect("00 A4 04 0C 0C A0 00 00 00 63 50 4B 43 53 2D 31 35", "90 00"),
            expect("00 20 00 82 08 " + verify, answer)};
}

Outcome readStarcos(const Script& script, const std::string& pin, const char* key) {
    return run(cardread::readStarcosCard, script, pin, key, 2000);
}

TEST(StarcosCardRead, ReadsAShortAndAChunkedFileAndPadsThePinWithBlanks) {
    const Bytes file1 = randomBytes(40, 1);
    const Bytes file3 = randomBytes(300, 3);
    const Outcome r =
        readStarcos(starcosIndex() + starcosPin("31 32 33 34 20 20 20 20", "90 00") +
                        Script{expect("00 A4 00 00 02 AC 01", fci(40)),
                               expect("00 B0 00 00 00", file1 + hex("90 00")),
                               expect("00 A4 00 00 02 AC 03", fci(300)),
                               expect("00 B0 00 00 FC", slice(file3, 0, 252) + hex("90 00")),
                               expect("00 B0 00 FC 30", slice(file3, 252, 300) + hex("61 00"))},
                    "1234", "A001");
    EXPECT_EQ(cardread::kStatusOk, r.status);
    EXPECT_EQ(2000, r.length);
    EXPECT_EQ(toHex(file1), toHex(slice(r.out, 0, 40)));
    EXPECT_EQ(toHex(Bytes(960, 0xEE)), toHex(slice(r.out, 40, 1000)));
    EXPECT_EQ(toHex(file3), toHex(slice(r.out, 1000, 1300)));
    EXPECT_EQ(toHex(Bytes(700, 0xEE)), toHex(slice(r.out, 1300, 2000)));
}

TEST(StarcosCardRead, OnlyTheFirstEightPinBytesAreSent) {
    EXPECT_EQ(0x63C2, readStarcos(starcosIndex() + starcosPin("31 32 33 34 35 36 37 38", "63 C2"),
                                  "1234567890", "A001")
                          .status);
}

TEST(StarcosCardRead, SizeAndFileChecksGiveStatusesNotOverruns) {
    const Exchange selectMf = expect("00 A4 00 0C 02 3F 00", "90 00");
    const Script withPin = starcosIndex() + starcosPin("31 32 33 34 20 20 20 20", "90 00");
    auto withFile = [&](const Bytes& fciAnswer, const Script& reads) {
        return withPin + Script{expect("00 A4 00 00 02 AC 01", fciAnswer)} + reads;
    };
    const struct {
        const char* name;
        Script script;
        cardread::Status expected;
        const char* key = "A001";
    } cases[] = {
        {"index file above 140 bytes", Script{selectMf, expect("00 A4 00 00 02 FE 15", fci(141))},
         cardread::kStatusBufferTooSmall},
        {"FCI of five bytes",
         Script{selectMf, expect("00 A4 00 00 02 FE 15", "62 03 80 01 00 90 00")},
         cardread::kStatusBadResponse},
        {"index shorter than its FCI says",
         Script{selectMf, expect("00 A4 00 00 02 FE 15", fci(100)),
                expect("00 B0 00 00 00", "41 42 90 00")},
         cardread::kStatusBadResponse},
        {"index file missing", {selectMf, expect("00 A4 00 00 02 FE 15", "6A 82")}, 0x6A82},
        {"key only in the first 11 bytes", starcosIndex(), cardread::kStatusRecordNotFound, "STAR"},
        {"data file above 1000 bytes", withFile(fci(1001), {}), cardread::kStatusBufferTooSmall},
        {"chunk longer than asked",
         withFile(fci(300), {expect("00 B0 00 00 FC", Bytes(253, 0x41) + hex("90 00"))}),
         cardread::kStatusBufferTooSmall},
        {"chunk shorter than asked",
         withFile(fci(300), {expect("00 B0 00 00 FC", Bytes(100, 0x41) + hex("90 00"))}),
         cardread::kStatusBadResponse},
        {"second chunk refused",
         withFile(fci(300), {expect("00 B0 00 00 FC", Bytes(252, 0x41) + hex("90 00")),
                             expect("00 B0 00 FC 30", "6B 00")}),
         0x6B00},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = readStarcos(c.script, "1234", c.key);
        EXPECT_EQ(c.expected, r.status);
        EXPECT_EQ(2000, r.length);
    }
}

}  // namespace
}  // namespace cardtest
