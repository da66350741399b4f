// readUserData on the main card kind through pcscd: records by mask, the protected VERIFY,
// card authentication, the PIN retry counter, and cards that answer wrongly.
#include <sstream>

#include "read_fixture.h"
#include "temp_dir.h"

namespace cardtest {
namespace {

using cardsim::IndexEntry;
using cardsim::toHex;

class MainCardRead : public ThroughPcscd {};

TEST_F(MainCardRead, SizeQueryCountsSelectedRecordsAndSendsNoPin) {
    // The entry with mask 00 goes last: the index is searched as text and 00 ends it.
    const std::vector<IndexEntry> entries = {{"K001", 0x01}, {"K005", 0x05}, {"K03F", 0x3F},
                                             {"KC0 ", 0xC0}, {"KFF ", 0xFF}, {"K000", 0x00}};
    const struct {
        const char* key;
        int size;
    } cases[] = {{"K001", 1000}, {"K005", 2000}, {"K03F", 6000},
                 {"KC0 ", 0},    {"KFF ", 6000}, {"K000", 0}};
    pcsctest::CardInReader card(pcscd(), patternCard(CardKind::Main, entries));
    for (const auto& c : cases) {
        int length = -7;
        EXPECT_EQ(sizeQuery(reader().c_str(), "1234", c.key, length), 0) << c.key;
        EXPECT_EQ(length, c.size) << c.key;
    }
    EXPECT_TRUE(withInstruction(card->commands(), 0x20).empty());
    EXPECT_TRUE(card->pinBlocks().empty());
}

TEST_F(MainCardRead, ReadCopiesSelectedRecordsInBitOrder) {
    const std::uint8_t masks[] = {0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x05, 0x22, 0xC1, 0x00};
    std::vector<IndexEntry> entries;
    for (std::uint8_t m : masks) entries.push_back({"M" + toHex({m}) + "x", m});
    CardProfile profile = patternCard(CardKind::Main, entries);
    pcsctest::CardInReader card(pcscd(), profile);
    // One process reads all of them: after the first read the keys are already installed.
    for (const IndexEntry& e : entries) {
        SCOPED_TRACE(e.key);
        ReadOutcome r = read("1234", e.key.c_str());
        ASSERT_EQ(r.status, 0);
        Bytes expected = dataSelectedBy(profile, e.mask);
        EXPECT_EQ(r.length, static_cast<int>(expected.size()));
        ASSERT_EQ(r.data.size(), expected.size() * 4);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r.data.begin()));
        EXPECT_TRUE(std::all_of(r.data.begin() + static_cast<long>(expected.size()), r.data.end(),
                                [](std::uint8_t b) { return b == 0; }));
    }
    // Even a mask that selects nothing verifies the PIN.
    EXPECT_EQ(card->pinBlocks().size(), entries.size());
    EXPECT_EQ(card->triesLeft(), 3);
}

TEST_F(MainCardRead, LogShowsTheExactCommandSequence) {
    const testsupport::TempDir dir;
    const std::string log = dir.file("cardsim.log");
    CardProfile profile = abcdCard(CardKind::Main, 0x05);
    {
        pcsctest::CardInReader card(pcscd(), profile, 0, log);
        ReadOutcome r = read();
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(card->pinBlocks(), std::vector<Bytes>{*cardsim::fromHex("31323334FFFFFFFFFFFF")});
    }
    std::istringstream in(testsupport::readFile(log));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') lines.push_back(line);

    const std::vector<std::string> index = {"80A40000023F00", "80A40000020900", "80A40000020904",
                                            "80B000008C"};
    std::vector<std::string> expected = index;                    // size query
    expected.insert(expected.end(), index.begin(), index.end());  // read
    expected.insert(expected.end(),
                    {"80A40000023F00", "80A40000020800", "80A40000020810", "VERIFY",
                     "80A40000023F00", "80A40000020900", "80A40000020910", "8084000008", "AUTH"});
    for (const char* fid : {"AC01", "AC03"}) {
        expected.push_back(std::string("80A4000002") + fid);
        expected.insert(expected.end(),
                        {"80B00000C8", "80B000C8C8", "80B00190C8", "80B00258C8", "80B00320C8"});
    }
    ASSERT_EQ(lines.size(), expected.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (expected[i] == "VERIFY") {
            // 8C: MAC and encipherment; Lc 20 = R (8) + data and MAC enciphered (24).
            EXPECT_EQ(lines[i].size(), 37u * 2);
            EXPECT_EQ(lines[i].substr(0, 10), "8C20000120");
        } else if (expected[i] == "AUTH") {
            EXPECT_EQ(lines[i].size(), 13u * 2);
            EXPECT_EQ(lines[i].substr(0, 10), "8082012208");
        } else {
            EXPECT_EQ(lines[i], expected[i]) << "command " << i;
        }
    }
}

// The PIN block of either kind: the main kind sends the first ten bytes padded with FF, the
// STARCOS kind the first eight padded with blanks.
struct PinBlockCase {
    const char* name;
    CardKind kind;
    std::string cardPin, sentPin, block;
    int status = 0;
};

void PrintTo(const PinBlockCase& c, std::ostream* os) {
    *os << c.name;
}

class PinBlock : public ThroughPcscd, public ::testing::WithParamInterface<PinBlockCase> {};

TEST_P(PinBlock, IsTheFirstBytesPadded) {
    const PinBlockCase& c = GetParam();
    CardProfile profile = abcdCard(c.kind, 0x01);
    profile.pin = Bytes(c.cardPin.begin(), c.cardPin.end());
    pcsctest::CardInReader card(pcscd(), profile);
    EXPECT_EQ(read(c.sentPin).status, c.status);
    EXPECT_EQ(card->pinBlocks(), std::vector<Bytes>{*cardsim::fromHex(c.block)});
}

const PinBlockCase kPinBlocks[] = {
    {"MainFourDigits", CardKind::Main, "1234", "1234", "31323334FFFFFFFFFFFF"},
    {"MainTenDigits", CardKind::Main, "1234567890", "1234567890", "31323334353637383930"},
    {"MainOnlyTenOfTwelveSent", CardKind::Main, "1234567890", "123456789012",
     "31323334353637383930"},
    {"MainOneDigit", CardKind::Main, "1", "1", "31FFFFFFFFFFFFFFFFFF"},
    {"StarcosFourDigits", CardKind::Starcos, "1234", "1234", "3132333420202020"},
    {"StarcosOnlyEightOfTwelveSent", CardKind::Starcos, "12345678", "1234567890AB",
     "3132333435363738"},
    {"StarcosWrongPin", CardKind::Starcos, "1234", "9999", "3939393920202020", 0x63C2},
};

INSTANTIATE_TEST_SUITE_P(BothKinds, PinBlock, ::testing::ValuesIn(kPinBlocks),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MainCardRead, WrongPinReturnsTheCardsRetryStatusAndIsSentOnce) {
    const struct {
        int triesLeft;
        int status;
        int triesAfter;
    } cases[] = {{3, 0x63C2, 2}, {2, 0x63C1, 1}, {1, 0x63C0, 0}, {0, 0x6983, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.triesLeft);
        CardProfile profile = abcdCard(CardKind::Main, 0x03);
        profile.triesLeft = c.triesLeft;
        pcsctest::CardInReader card(pcscd(), profile);
        ReadOutcome r = read("9999");
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.length, 2000);  // unchanged by the failed read
        EXPECT_EQ(withInstruction(card->commands(), 0x20).size(), 1u);
        EXPECT_TRUE(withInstruction(card->commands(), 0x84).empty());
        EXPECT_EQ(card->triesLeft(), c.triesAfter);
    }
}

TEST_F(MainCardRead, RecordKeyIsSearchedFromOffsetElevenOnly) {
    // "ABCD" inside the 11-byte header only; "QRST" right at offset 11; "TAIL" in the last
    // four of the 140 bytes, so its mask byte would lie beyond what was read. No NUL anywhere:
    // the search runs to the end of the bytes read.
    std::string raw = "ABCD=\x03;xxxxQRST=\x01;";
    raw.resize(cardsim::kIndexSize - 4, '.');
    raw += "TAIL";
    Bytes index(raw.begin(), raw.end());
    CardProfile profile = patternCard(CardKind::Main, {});
    profile.rawIndex = index;
    pcsctest::CardInReader card(pcscd(), profile);
    const struct {
        const char* key;
        int status;
        int length;
    } cases[] = {{"ABCD", 0x7412, 0}, {"QRST", 0, 1000}, {"ZZZZ", 0x7412, 0}, {"TAIL", 0x7412, 0}};
    for (const auto& c : cases) {
        int length = 0;
        EXPECT_EQ(sizeQuery(reader().c_str(), "1234", c.key, length), c.status) << c.key;
        EXPECT_EQ(length, c.length) << c.key;
    }
    EXPECT_EQ(read("1234", "ZZZZ").status, 0x7412);
}

TEST_F(MainCardRead, CapacityBelowTheDataSizeFailsBeforeThePin) {
    pcsctest::CardInReader card(pcscd(), abcdCard(CardKind::Main, 0x03));
    Bytes buffer(1999, 0);
    int length = 1999;
    const unsigned char pin[] = "1234";
    EXPECT_EQ(readUserData(reader().c_str(), pin, 4, "ABCD", buffer.data(), &length), 0x7401);
    EXPECT_EQ(length, 1999);
    EXPECT_TRUE(withInstruction(card->commands(), 0x20).empty());
}

TEST_F(MainCardRead, MissingArgumentsAreRefusedWithoutCardTraffic) {
    pcsctest::CardInReader card(pcscd(), abcdCard(CardKind::Main, 0x01));
    const unsigned char pin[] = "1234";
    int length = 0;
    EXPECT_EQ(readUserData(reader().c_str(), nullptr, 4, "ABCD", nullptr, &length), -1);
    EXPECT_EQ(readUserData(reader().c_str(), pin, 0, "ABCD", nullptr, &length), -1);
    EXPECT_EQ(readUserData(reader().c_str(), pin, 4, nullptr, nullptr, &length), -1);
    EXPECT_TRUE(card->commands().empty());
}

TEST_F(MainCardRead, PinContextFallsBackToDf5030) {
    CardProfile profile = abcdCard(CardKind::Main, 0x01);
    profile.pinDf = 0x5030;
    pcsctest::CardInReader card(pcscd(), profile);
    ReadOutcome r = read();
    EXPECT_EQ(r.status, 0);
    const std::vector<std::string> selects = hexLines(withInstruction(card->commands(), 0xA4));
    EXPECT_NE(std::find(selects.begin(), selects.end(), "80A40000025030"), selects.end());
}

TEST_F(MainCardRead, SecureMessagingAgainstTheCardsKeys) {
    const struct {
        const char* name;
        const char* change;  // card description lines
        int status;
    } cases[] = {
        // The card deciphers the PIN and checks the MAC with its key B: a mismatch is its 6988.
        {"card key B differs", "key-b 00112233445566778899AABBCCDDEEFF", 0x6988},
        {"card authentication key differs", "auth-key 00112233445566778899AABBCCDDEEFF", 0x6300},
        // The library reads the VERIFY status from the answer's last two bytes as it stands.
        {"protected VERIFY reply", "verify-reply protected", 0},
        {"protected VERIFY reply, bad MAC", "verify-reply protected-bad-mac", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CardProfile profile = abcdCard(CardKind::Main, 0x01, c.change);
        pcsctest::CardInReader card(pcscd(), profile);
        ReadOutcome r = read();
        EXPECT_EQ(r.status, c.status);
        if (c.status == 0) {
            EXPECT_EQ(firstRecord(r), profile.records.at(1));
        }
    }
}

TEST_F(MainCardRead, WrongAnswersGiveAnErrorNeverABufferOverrun) {
    const struct {
        const char* name;
        const char* fault;
        int status;
    } cases[] = {
        {"index answer longer than asked", "80B000008C=long:10", 0x7401},
        {"record chunk longer than asked", "80B000C8C8=long:1", 0x7401},
        {"challenge longer than 8 bytes", "8084000008=long:4", 0x7401},
        {"challenge shorter than 8 bytes", "8084000008=short:4", 0x7402},
        {"select answer without status word", "80A40000020900=raw:90", 0x7402},
        // vpcd cannot pass on an answer of no bytes; the simulator pulls the card instead and
        // pcscd hands the library an empty answer.
        {"empty answer", "80A40000023F00=raw:", 0x7402},
        {"data file missing", "80A4000002AC02=sw:6A82", 0x6A82},
        {"index file ends early", "80B000008C=sw:6282", 0x6282},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pcsctest::CardInReader card(
            pcscd(), abcdCard(CardKind::Main, 0x03, std::string("fault ") + c.fault));
        EXPECT_EQ(read().status, c.status);
    }
}

TEST_F(MainCardRead, CardPulledDuringTheReadFailsAndIsThenMissing) {
    pcsctest::CardInReader card(pcscd(), abcdCard(CardKind::Main, 0x03, "fault 8C20=drop"));
    ReadOutcome r = read();
    // The vpcd driver reports the command as transmitted with an empty answer: no status word.
    EXPECT_EQ(r.status, 0x7402) << std::hex << r.status;
    EXPECT_EQ(r.length, 2000);
    ASSERT_TRUE(pcscd().waitForCard(0, false));
    EXPECT_EQ(read().status, kRemovedCard);
}

}  // namespace
}  // namespace cardtest
