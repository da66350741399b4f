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
using cardtest::toHex;

const Bytes kKeyB = hex("544553544B4559422D4E4F542D495353");
const Bytes kAuthKey = hex("54455354415554482D4E4F542D495353");
const Bytes kChallenge = hex("0102030405060708");

Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

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

void addIndexRead(std::vector<Exchange>& s, std::uint8_t mask) {
    s.push_back(expect(selectMain("3F 00"), "90 00"));
    s.push_back(expect(selectMain("09 00"), "90 00"));
    s.push_back(expect(selectMain("09 04"), "90 00"));
    s.push_back(Exchange{hex("80 B0 00 00 8C"), nullptr, mainIndex(mask) + hex("90 00")});
}

// Checks the 37-byte protected VERIFY by deciphering it with OpenSSL.
Exchange protectedVerify(const Bytes& expectedPinBlock, const std::string& answer) {
    Exchange e;
    e.check = [expectedPinBlock](const Bytes& sent) {
        ASSERT_EQ(37u, sent.size());
        EXPECT_EQ("8C 20 00 01 20", toHex(Bytes(sent.begin(), sent.begin() + 5)));
        const Bytes r(sent.begin() + 5, sent.begin() + 13);
        const Bytes plain = cardtest::openssl(EVP_des_ede_cbc(), false, kKeyB, r,
                                              Bytes(sent.begin() + 13, sent.end()), true);
        ASSERT_EQ(18u, plain.size());
        EXPECT_EQ(toHex(expectedPinBlock), toHex(Bytes(plain.begin(), plain.begin() + 10)));
        const Bytes mac =
            cardtest::openssl(EVP_des_ede_cbc(), true, kKeyB, r, expectedPinBlock, true);
        EXPECT_EQ(toHex(Bytes(mac.end() - 8, mac.end())),
                  toHex(Bytes(plain.begin() + 10, plain.end())));
    };
    e.response = hex(answer);
    return e;
}

void addPinAndAuthentication(std::vector<Exchange>& s, const Bytes& pinBlock) {
    s.push_back(expect(selectMain("3F 00"), "90 00"));
    s.push_back(expect(selectMain("08 00"), "90 00"));
    s.push_back(expect(selectMain("08 10"), "90 00"));
    s.push_back(protectedVerify(pinBlock, "90 00"));
    s.push_back(expect(selectMain("3F 00"), "90 00"));
    s.push_back(expect(selectMain("09 00"), "90 00"));
    s.push_back(expect(selectMain("09 10"), "90 00"));
    s.push_back(Exchange{hex("80 84 00 00 08"), nullptr, kChallenge + hex("90 00")});
    const Bytes cryptogram =
        cardtest::openssl(EVP_des_ede_ecb(), true, kAuthKey, {}, kChallenge, false);
    s.push_back(Exchange{hex("80 82 01 22 08") + cryptogram, nullptr, hex("90 00")});
}

void addRecordRead(std::vector<Exchange>& s, int bit) {
    const Bytes data = record(bit);
    s.push_back(Exchange{hex("80 A4 00 00 02 AC") + Bytes{static_cast<std::uint8_t>(1 + bit)},
                         nullptr, hex("90 00")});
    for (int off = 0; off < 1000; off += 200) {
        s.push_back(Exchange{hex("80 B0") + Bytes{static_cast<std::uint8_t>(off >> 8),
                                                  static_cast<std::uint8_t>(off), 0xC8},
                             nullptr,
                             Bytes(data.begin() + off, data.begin() + off + 200) + hex("90 00")});
    }
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
        const cardread::ReadRequest request{reinterpret_cast<const std::uint8_t*>(pin.data()),
                                            static_cast<int>(pin.size()), key, out, ioLength};
        return cardread::readMainCard(channel, keys, kAuthKey.data(), kAuthKey.size(), request);
    }
};

TEST_F(MainCardRead, SizeQuerySendsNoPin) {
    std::vector<Exchange> script;
    addIndexRead(script, 0x05);
    cardtest::ScriptedChannel channel(script);
    int length = 0;
    EXPECT_EQ(cardread::kStatusOk, read(channel, "1234", "A001", nullptr, &length));
    EXPECT_EQ(2000, length);
}

TEST_F(MainCardRead, MaskFiveReadsFilesOneAndThreeIntoTwoSlots) {
    std::vector<Exchange> script;
    addIndexRead(script, 0x05);
    addPinAndAuthentication(script, hex("31 32 33 34 FF FF FF FF FF FF"));
    addRecordRead(script, 0);
    addRecordRead(script, 2);
    cardtest::ScriptedChannel channel(script);
    Bytes out(8000, 0xEE);
    int length = 8000;
    EXPECT_EQ(cardread::kStatusOk, read(channel, "1234", "A001", out.data(), &length));
    EXPECT_EQ(2000, length);
    EXPECT_EQ(toHex(record(0)), toHex(Bytes(out.begin(), out.begin() + 1000)));
    EXPECT_EQ(toHex(record(2)), toHex(Bytes(out.begin() + 1000, out.begin() + 2000)));
    EXPECT_EQ(0xEE, out[2000]);
}

TEST_F(MainCardRead, OnlyTheFirstTenPinBytesAreSent) {
    std::vector<Exchange> script;
    addIndexRead(script, 0x00);
    addPinAndAuthentication(script, text("0123456789"));
    cardtest::ScriptedChannel channel(script);
    Bytes out(10, 0xEE);
    int length = 10;
    EXPECT_EQ(cardread::kStatusOk, read(channel, "0123456789AB", "A001", out.data(), &length));
    EXPECT_EQ(0, length);
    EXPECT_EQ(toHex(Bytes(10, 0xEE)), toHex(out));
}

TEST_F(MainCardRead, PinContextFallsBackToDf5030) {
    std::vector<Exchange> script;
    addIndexRead(script, 0x00);
    script.push_back(expect(selectMain("3F 00"), "6A 82"));  // not checked
    script.push_back(expect(selectMain("08 00"), "6A 82"));
    script.push_back(expect(selectMain("50 30"), "90 00"));
    script.push_back(expect(selectMain("08 10"), "63 C2"));
    cardtest::ScriptedChannel channel(script);
    Bytes out(10);
    int length = 10;
    EXPECT_EQ(0x63C2, read(channel, "1234", "A001", out.data(), &length));
    EXPECT_EQ(10, length);
}

TEST_F(MainCardRead, FailuresStopTheReadWithTheirStatus) {
    struct Case {
        const char* name;
        std::vector<Exchange> script;
        int capacity;
        cardread::Status expected;
    };
    std::vector<Case> cases;
    {
        std::vector<Exchange> s;
        addIndexRead(s, 0x03);
        cases.push_back({"capacity 1999 for two records, before any PIN", s, 1999,
                         cardread::kStatusBufferTooSmall});
    }
    {
        std::vector<Exchange> s;
        addIndexRead(s, 0x05);
        s.push_back(expect(selectMain("3F 00"), "90 00"));
        s.push_back(expect(selectMain("08 00"), "90 00"));
        s.push_back(expect(selectMain("08 10"), "90 00"));
        s.push_back(protectedVerify(hex("31 32 33 34 FF FF FF FF FF FF"), "63 C1"));
        cases.push_back({"wrong PIN, one try left", s, 6000, 0x63C1});
    }
    {
        std::vector<Exchange> s;
        s.push_back(expect(selectMain("3F 00"), "90 00"));
        s.push_back(expect(selectMain("09 00"), "6A 82"));
        cases.push_back({"index DF missing", s, 6000, 0x6A82});
    }
    {
        std::vector<Exchange> s;
        addIndexRead(s, 0x05);
        s.back().response = mainIndex(0x05) + hex("00 90 00");  // 141 bytes for 140 asked
        cases.push_back({"answer longer than asked", s, 6000, cardread::kStatusBufferTooSmall});
    }
    {
        std::vector<Exchange> s;
        addIndexRead(s, 0x05);
        s.back().response = hex("90");
        cases.push_back({"answer without a status word", s, 6000, cardread::kStatusBadResponse});
    }
    {
        std::vector<Exchange> s;
        addIndexRead(s, 0x05);
        s.back().response = Bytes(400, 0x41) + hex("90 00");  // beyond the 300-byte buffer
        cases.push_back(
            {"answer beyond the receive buffer", s, 6000, cardread::kPcscInsufficientBuffer});
    }
    {
        std::vector<Exchange> s;
        addIndexRead(s, 0x05);
        cases.push_back({"unknown record key", s, 6000, cardread::kStatusRecordNotFound});
    }
    {
        std::vector<Exchange> s;
        addIndexRead(s, 0x01);
        addPinAndAuthentication(s, hex("31 32 33 34 FF FF FF FF FF FF"));
        s.back().response = hex("69 82");
        cases.push_back({"card refuses the authentication", s, 6000, 0x6982});
    }
    {
        std::vector<Exchange> s;
        addIndexRead(s, 0x01);
        addPinAndAuthentication(s, hex("31 32 33 34 FF FF FF FF FF FF"));
        s.pop_back();
        s.back().response = hex("01 02 03 90 00");
        cases.push_back({"short challenge", s, 6000, cardread::kStatusBadResponse});
    }
    {
        std::vector<Exchange> s;
        s.push_back(Exchange{hex(selectMain("3F 00")), nullptr, {}, cardread::kPcscRemovedCard});
        cases.push_back({"card removed", s, 6000, cardread::kPcscRemovedCard});
    }
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        cardtest::ScriptedChannel channel(c.script);
        Bytes out(6000);
        int length = c.capacity;
        const char* key = std::string(c.name) == "unknown record key" ? "Z999" : "A001";
        EXPECT_EQ(c.expected, read(channel, "1234", key, out.data(), &length));
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

Bytes starcosIndex() {
    Bytes index = text("STARIDXHDR.") + text("A001-") + Bytes{0x05} + text("C003-") + Bytes{0x00};
    index.resize(100, 0);
    return index;
}

void addStarcosIndex(std::vector<Exchange>& s) {
    s.push_back(expect("00 A4 00 0C 02 3F 00", "90 00"));
    s.push_back(Exchange{hex("00 A4 00 00 02 FE 15"), nullptr, fci(100)});
    s.push_back(Exchange{hex("00 B0 00 00 00"), nullptr, starcosIndex() + hex("90 00")});
}

cardread::Status readStarcos(cardtest::ScriptedChannel& channel, const std::string& pin,
                             const char* key, std::uint8_t* out, int* ioLength) {
    const cardread::ReadRequest request{reinterpret_cast<const std::uint8_t*>(pin.data()),
                                        static_cast<int>(pin.size()), key, out, ioLength};
    return cardread::readStarcosCard(channel, request);
}

TEST(StarcosCardRead, ReadsAShortAndAChunkedFileAndPadsThePinWithBlanks) {
    const Bytes file1 = cardtest::randomBytes(40, 1);
    const Bytes file3 = cardtest::randomBytes(300, 3);
    std::vector<Exchange> s;
    addStarcosIndex(s);
    s.push_back(expect("00 A4 04 0C 0C A0 00 00 00 63 50 4B 43 53 2D 31 35", "90 00"));
    s.push_back(expect("00 20 00 82 08 31 32 33 34 20 20 20 20", "90 00"));
    s.push_back(Exchange{hex("00 A4 00 00 02 AC 01"), nullptr, fci(40)});
    s.push_back(Exchange{hex("00 B0 00 00 00"), nullptr, file1 + hex("90 00")});
    s.push_back(Exchange{hex("00 A4 00 00 02 AC 03"), nullptr, fci(300)});
    s.push_back(Exchange{hex("00 B0 00 00 FC"), nullptr,
                         Bytes(file3.begin(), file3.begin() + 252) + hex("90 00")});
    s.push_back(Exchange{hex("00 B0 00 FC 30"), nullptr,
                         Bytes(file3.begin() + 252, file3.end()) + hex("61 00")});
    cardtest::ScriptedChannel channel(s);
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
    std::vector<Exchange> s;
    addStarcosIndex(s);
    s.push_back(expect("00 A4 04 0C 0C A0 00 00 00 63 50 4B 43 53 2D 31 35", "90 00"));
    s.push_back(expect("00 20 00 82 08 31 32 33 34 35 36 37 38", "63 C2"));
    cardtest::ScriptedChannel channel(s);
    Bytes out(2000);
    int length = 2000;
    EXPECT_EQ(0x63C2, readStarcos(channel, "1234567890", "A001", out.data(), &length));
}

TEST(StarcosCardRead, SizeAndFileChecksGiveStatusesNotOverruns) {
    struct Case {
        const char* name;
        std::vector<Exchange> script;
        const char* key;
        cardread::Status expected;
    };
    const Exchange selectMf = expect("00 A4 00 0C 02 3F 00", "90 00");
    const Exchange selectIndex{hex("00 A4 00 00 02 FE 15"), nullptr, fci(100)};
    std::vector<Exchange> tail;
    addStarcosIndex(tail);
    tail.push_back(expect("00 A4 04 0C 0C A0 00 00 00 63 50 4B 43 53 2D 31 35", "90 00"));
    tail.push_back(expect("00 20 00 82 08 31 32 33 34 20 20 20 20", "90 00"));
    auto withFile = [&](Bytes fciAnswer, std::vector<Exchange> reads) {
        std::vector<Exchange> s = tail;
        s.push_back(Exchange{hex("00 A4 00 00 02 AC 01"), nullptr, fciAnswer});
        for (auto& r : reads) s.push_back(r);
        return s;
    };
    const Case cases[] = {
        {"index file above 140 bytes",
         {selectMf, Exchange{hex("00 A4 00 00 02 FE 15"), nullptr, fci(141)}},
         "A001",
         cardread::kStatusBufferTooSmall},
        {"FCI of five bytes",
         {selectMf, Exchange{hex("00 A4 00 00 02 FE 15"), nullptr, hex("62 03 80 01 00 90 00")}},
         "A001",
         cardread::kStatusBadResponse},
        {"index shorter than its FCI says",
         {selectMf, selectIndex, Exchange{hex("00 B0 00 00 00"), nullptr, hex("41 42 90 00")}},
         "A001",
         cardread::kStatusBadResponse},
        {"index file missing", {selectMf, expect("00 A4 00 00 02 FE 15", "6A 82")}, "A001", 0x6A82},
        {"key only in the first 11 bytes",
         tail.size() ? std::vector<Exchange>(tail.begin(), tail.begin() + 3)
                     : std::vector<Exchange>{},
         "STAR", cardread::kStatusRecordNotFound},
        {"data file above 1000 bytes", withFile(fci(1001), {}), "A001",
         cardread::kStatusBufferTooSmall},
        {"chunk longer than asked",
         withFile(fci(300),
                  {Exchange{hex("00 B0 00 00 FC"), nullptr, Bytes(253, 0x41) + hex("90 00")}}),
         "A001", cardread::kStatusBufferTooSmall},
        {"chunk shorter than asked",
         withFile(fci(300),
                  {Exchange{hex("00 B0 00 00 FC"), nullptr, Bytes(100, 0x41) + hex("90 00")}}),
         "A001", cardread::kStatusBadResponse},
        {"second chunk refused",
         withFile(fci(300),
                  {Exchange{hex("00 B0 00 00 FC"), nullptr, Bytes(252, 0x41) + hex("90 00")},
                   expect("00 B0 00 FC 30", "6B 00")}),
         "A001", 0x6B00},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cardtest::ScriptedChannel channel(c.script);
        Bytes out(2000);
        int length = 2000;
        EXPECT_EQ(c.expected, readStarcos(channel, "1234", c.key, out.data(), &length));
        EXPECT_EQ(2000, length);
    }
}

}  // namespace
