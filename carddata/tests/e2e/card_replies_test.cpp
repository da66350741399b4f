// carddata's replies for each outcome of the card read through the real pcscd: data in Base64,
// and each library status mapped to its reply code.
#include <cstdio>
#include <future>

#include "carddata_run.h"

namespace carddatatest {
namespace {

class CardReplies : public CarddataRun {};

TEST_F(CardReplies, DataOfOneToSixRecordsInBase64) {
    const std::uint8_t masks[] = {0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x05, 0x22, 0xFF};
    std::vector<cardsim::IndexEntry> entries;
    for (std::uint8_t m : masks) entries.push_back({"M" + cardsim::toHex({m}) + "x", m});
    CardProfile profile = patternCard(CardKind::Main, entries);
    pcsctest::CardInReader card(pcscd(), profile);
    for (const auto& e : entries) {
        SCOPED_TRACE(e.key);
        pcsctest::ProgramResult r = run({request("1234", e.key)});
        expectReply(r, base64(dataSelectedBy(profile, e.mask)), 0);
        EXPECT_EQ(r.out.find('\r'), std::string::npos);
    }
    expectTraced("cardread.session", "kind", "main");
    expectTraced("cardread.session", "protocol", "T=1");
}

TEST_F(CardReplies, StarcosCardDataInBase64) {
    CardProfile profile = patternCard(CardKind::Starcos, {{"ABCD", 0x06}});
    profile.records[2] = cardsim::patternRecord(2, 300);  // the slot's rest stays zero
    pcsctest::CardInReader card(pcscd(), profile);
    Bytes expected = profile.records[2];
    expected.resize(1000, 0);
    Bytes third = profile.records[3];
    expected.insert(expected.end(), third.begin(), third.end());
    expectReply(run({request("1234", "ABCD")}), base64(expected), 0);
    expectTraced("cardread.session", "kind", "starcos");
    expectTraced("cardread.apdu", "header", "00200082");
}

TEST_F(CardReplies, EachCardOutcomeMapsToItsReplyCode) {
    const struct {
        const char* name;
        CardKind kind;
        const char* change;  // card description lines
        std::string pin, sno;
        long long code;
    } cases[] = {
        {"wrong PIN, two tries left (63C2 unchanged)", CardKind::Main, "", "9999", "ABCD", 0x63C2},
        {"wrong PIN, PIN blocked", CardKind::Main, "tries-left 0", "9999", "ABCD", 0x6983},
        {"unknown record key (7412)", CardKind::Main, "", "1234", "QQQQ", 1998585873},
        {"unknown ATR (80100069)", CardKind::Other, "", "1234", "ABCD", 1979711494},
        {"recognised, not readable (-1)", CardKind::Other, "atr 3BB813008131FA525A6172716F56323200",
         "1234", "ABCD", 1979711500},
        {"data file larger than its buffer (7401)", CardKind::Starcos, "record-size 1=1001", "1234",
         "ABCD", 1998585858},
        {"card status word (6A82)", CardKind::Main, "fault 80A4000002AC01=sw:6A82", "1234", "ABCD",
         0x6A82},
        {"selects no record (no data)", CardKind::Main, "", "1234", "NONE", 1986002945},
        {"answer without a status word (7402)", CardKind::Main, "fault 80A40000020900=raw:90",
         "1234", "ABCD", 0x7402},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CardProfile profile =
            cardsim::described(patternCard(c.kind, {{"ABCD", 0x01}, {"NONE", 0x00}}), c.change);
        pcsctest::CardInReader card(pcscd(), profile);
        expectReply(run({request(c.pin, c.sno)}), "", c.code);
        // The type the trace says the ATR matched, and the refusing command's status word.
        expectTraced("cardread.card", "card_type",
                     c.kind == CardKind::Main      ? "VEK Pelvo Card 32K"
                     : c.kind == CardKind::Starcos ? "STARCOS SPK 2.3"
                     : profile.atr.empty()         ? "none"
                                                   : "Zarqo 32K");
        if (c.code >= 0x6000 && c.code < 0x7000) {
            char sw[8];
            std::snprintf(sw, sizeof sw, "%04llX", c.code);
            expectTraced("cardread.apdu", "sw", sw);
        }
    }
}

TEST_F(CardReplies, NoCardMapsToCardRemovedOrThePcscCode) {
    // Named reader without a card: the library's 0x80100069, mapped.
    expectReply(run({request("1234", "ABCD", ",\"ReaderSlot\":\"" + reader(0) + "\"")}), "",
                1979711494);
    expectTraced("cardread.reader", "choice", "named in the request");
    expectReply(run({request("1234", "ABCD", ",\"ReaderSlot\":\"No Such Reader\"")}), "",
                1979711494);
    // No reader name and no card anywhere: PC/SC's "no smart card" passes unchanged and, its
    // top bit set, is written as a negative number.
    expectReply(run({request("1234", "ABCD")}), "", static_cast<int>(0x8010000Cu));
    expectTraced("cardread.reader", "rv", "0x8010000C");
}

TEST_F(CardReplies, TwoRunsAtOnceOnOneCardBothGetTheirOwnData) {
    CardProfile profile = patternCard(CardKind::Main, {{"AAAA", 0x01}, {"BBBB", 0x3E}});
    // A slow card stretches each read over a few hundred commands' worth of time, so the two
    // runs overlap; without a transaction around each read session their SELECTs and READs
    // would interleave and one run would read the other's file.
    profile.answerDelayMs = 2;
    pcsctest::CardInReader card(pcscd(), profile);
    const std::string a = replyLine(base64(dataSelectedBy(profile, 0x01)), 0);
    const std::string b = replyLine(base64(dataSelectedBy(profile, 0x3E)), 0);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        auto first = std::async(std::launch::async, [&] { return run({request("1234", "AAAA")}); });
        auto second =
            std::async(std::launch::async, [&] { return run({request("1234", "BBBB")}); });
        EXPECT_EQ(first.get().out, a);
        EXPECT_EQ(second.get().out, b);
    }
}

}  // namespace
}  // namespace carddatatest
