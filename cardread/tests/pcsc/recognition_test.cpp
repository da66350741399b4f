// Which reader and which card readUserData takes: named reader, the automatic choice of the
// first reader holding a card, recognition by ATR.
#include "read_fixture.h"

namespace cardtest {
namespace {

using cardsim::fromHex;

class Recognition : public ThroughPcscd {};

// `head`, the historical bytes as text, then `tail`.
Bytes atr(Bytes head, const std::string& text, const Bytes& tail = {}) {
    head.insert(head.end(), text.begin(), text.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

TEST_F(Recognition, NoCardRecognisedIsTheRemovedCardCode) {
    const int kNoSmartcard = static_cast<int>(0x8010000Cu);
    int length = 0;
    // Nothing inserted anywhere.
    EXPECT_EQ(sizeQuery(reader(0).c_str(), "1234", "ABCD", length), kRemovedCard);
    EXPECT_EQ(sizeQuery("No Such Reader 00 00", "1234", "ABCD", length), kRemovedCard);
    // Without a reader name the first reader with a card is taken; there is none.
    EXPECT_EQ(sizeQuery(nullptr, "1234", "ABCD", length), kNoSmartcard);
    // A card in the other reader does not help the named one.
    pcsctest::CardInReader card(pcscd(), abcdCard(CardKind::Main, 0x01), 1);
    EXPECT_EQ(sizeQuery(reader(0).c_str(), "1234", "ABCD", length), kRemovedCard);
    EXPECT_EQ(length, 0);
}

TEST_F(Recognition, CardKindFollowsTheAtr) {
    const Bytes mainHead = {0x3B, 0xB8, 0x13, 0x00, 0x81, 0x31, 0xFA, 0x52};
    const Bytes starcos = *fromHex("3BB794008131FE6553504B32339000D1");
    const struct {
        const char* name;
        Bytes atr;
        CardKind kind;
        int status;
    } cases[] = {
        {"unknown ATR", cardsim::defaultAtr(CardKind::Other), CardKind::Other, kRemovedCard},
        {"STARCOS ATR plus one byte", atr(starcos, "", {0x00}), CardKind::Starcos, kRemovedCard},
        {"main ATR one byte short", atr(mainHead, "VEKLUNDA"), CardKind::Main, kRemovedCard},
        {"row 2: recognised, not read", atr(mainHead, "ZarqoV22", {0x11}), CardKind::Other, -1},
        {"row 4: recognised, not read", atr(mainHead, "VEKTESRA", {0x22}), CardKind::Other, -1},
        {"row 5: recognised, not read", atr(*fromHex("3BFF1300FF00"), "ZarqoPKICard", {1, 2, 3}),
         CardKind::Other, -1},
        {"row 6: recognised, not read", *fromHex("3BF61800FF8131FE454A434F5032300E"),
         CardKind::Other, -1},
        {"row 7: recognised, not read", *fromHex("3BEB0000813120454A434F503331333647445478"),
         CardKind::Other, -1},
        // TA1, TB1 and the check byte are masked for the main kind.
        {"main kind, other TA1 TB1 TCK", atr(*fromHex("3BB896118131FA52"), "VEKLUNDA", {0x5A}),
         CardKind::Main, 0},
        {"STARCOS exact ATR", starcos, CardKind::Starcos, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CardProfile profile = abcdCard(c.kind, 0x01);
        profile.atr = c.atr;
        pcsctest::CardInReader card(pcscd(), profile);
        ReadOutcome r = read();
        EXPECT_EQ(r.status, c.status);
        if (c.status != 0) {
            EXPECT_TRUE(card->commands().empty());
        } else {
            EXPECT_EQ(firstRecord(r), profile.records.at(1));
        }
    }
}

TEST_F(Recognition, ReaderChoiceNamedOrFirstWithACard) {
    // The two cards hold different first records, so the data tells which was read.
    CardProfile first = abcdCard(CardKind::Main, 0x01);
    CardProfile second = abcdCard(CardKind::Main, 0x01);
    second.records[1] = Bytes(1000, 'B');
    const struct {
        const char* name;
        bool inFirst, inSecond;
        int readerIndex;  // -1: no reader name
        int readsCard;    // 0 or 1
    } cases[] = {
        {"named first reader", true, true, 0, 0},
        {"named second reader", true, true, 1, 1},
        {"no name, both readers hold cards", true, true, -1, 0},
        {"no name, only the second holds one", false, true, -1, 1},
        {"no name, only the first holds one", true, false, -1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<pcsctest::CardInReader> a, b;
        if (c.inFirst) a = std::make_unique<pcsctest::CardInReader>(pcscd(), first, 0);
        if (c.inSecond) b = std::make_unique<pcsctest::CardInReader>(pcscd(), second, 1);
        std::string name = c.readerIndex < 0 ? "" : reader(c.readerIndex);
        ReadOutcome r = readRecords(c.readerIndex < 0 ? nullptr : name.c_str(), "1234", "ABCD");
        ASSERT_EQ(r.status, 0);
        const CardProfile& expected = c.readsCard == 0 ? first : second;
        EXPECT_EQ(firstRecord(r), expected.records.at(1));
    }
}

TEST_F(Recognition, CardTakenOutAndPutBackIsReadAgain) {
    CardProfile profile = abcdCard(CardKind::Main, 0x01);
    pcsctest::CardInReader card(pcscd(), profile);
    EXPECT_EQ(read("9999").status, 0x63C2);
    card.pull();
    EXPECT_EQ(read().status, kRemovedCard);
    card.reinsert();
    // The card kept its retry counter while it was out: one more wrong PIN leaves one try.
    EXPECT_EQ(read("9999").status, 0x63C1);
    ReadOutcome r = read();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(firstRecord(r), profile.records.at(1));
}

TEST_F(Recognition, CardChangedBetweenSizeQueryAndReadIsRecognisedAnew) {
    int length = 0;
    {
        pcsctest::CardInReader card(pcscd(), abcdCard(CardKind::Main, 0x01));
        ASSERT_EQ(sizeQuery(reader().c_str(), "1234", "ABCD", length), 0);
    }
    CardProfile starcos = abcdCard(CardKind::Starcos, 0x03);
    pcsctest::CardInReader card(pcscd(), starcos);
    Bytes buffer(static_cast<std::size_t>(length) * 4, 0);
    const unsigned char pin[] = "1234";
    // The STARCOS card's entry selects two records: more than the buffer the first answer sized.
    EXPECT_EQ(readUserData(reader().c_str(), pin, 4, "ABCD", buffer.data(), &length), 0x7401);
}

}  // namespace
}  // namespace cardtest
