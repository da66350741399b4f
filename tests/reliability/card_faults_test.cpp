// carddata when the card or the PC/SC service misbehaves: the card pulled after each command of
// a read, no pcscd at all, and cards that answer with wrong lengths, wrong status words, a bad
// MAC or garbage FCI data. Every run must print exactly one reply line (with a non-zero code
// where the read cannot succeed), nothing on standard error, and exit with 0; in the sanitized
// tree the leak checker runs at each exit, so a leak fails the run the same way.
#include <unistd.h>

#include <string>
#include <vector>

#include "carddata_runs.h"

namespace reliability {
namespace {

class CardFaults : public CarddataFixture {};

struct KindCase {
    const char* name;
    CardKind kind;
    std::uint8_t mask;
    std::size_t firstRecordSize;  // STARCOS: a file of 300 bytes is read in two chunks
};

TEST_F(CardFaults, CardPulledAfterEachCommandOfARead) {
    const KindCase kinds[] = {{"main kind", CardKind::Main, 0x03, 1000},
                              {"STARCOS kind", CardKind::Starcos, 0x05, 300}};
    for (const KindCase& k : kinds) {
        SCOPED_TRACE(k.name);
        CardProfile profile = cardWith(k.kind, "ABCD", k.mask);
        profile.records[1] = cardsim::patternRecord(1, k.firstRecordSize);
        const std::string want = base64(dataSelectedBy(profile, k.mask));

        std::size_t total = 0;
        const Reply first = readCard(profile, &total);
        ASSERT_TRUE(first.wellFormed) << first.run;
        ASSERT_EQ(first.code, 0);
        ASSERT_EQ(first.msg, want);
        ASSERT_GT(total, 5u);

        // dropAfter n: commands 1..n are answered, the card is gone when command n + 1 comes.
        for (std::size_t n = 1; n < total; ++n) {
            SCOPED_TRACE("pulled at command " + std::to_string(n + 1) + " of " +
                         std::to_string(total));
            profile.dropAfter = static_cast<int>(n);
            const Reply reply = readCard(profile);
            EXPECT_TRUE(reply.wellFormed) << reply.run;
            EXPECT_NE(reply.code, 0) << reply.run;
            EXPECT_EQ(reply.msg, "") << reply.run;
            RecordProperty(
                "positions_" + std::string(k.kind == CardKind::Main ? "main" : "starcos"),
                static_cast<int>(n));
        }

        // Nothing the faults left behind keeps the next card from being read.
        profile.dropAfter = 0;
        const Reply reply = readCard(profile);
        EXPECT_EQ(reply.code, 0);
        EXPECT_EQ(reply.msg, want);
    }
}

TEST_F(CardFaults, NoCardInTheReaderGivesTheRemovedCardCode) {
    const Reply reply =
        readReply(runCarddata(carddataRequest("1234", "ABCD", pcscd().readerName(0))));
    ASSERT_TRUE(reply.wellFormed) << reply.run;
    EXPECT_EQ(reply.code, 0x76000006);  // SCARD_W_REMOVED_CARD as the service knows it
}

TEST(PcscServiceFaults, NoPcscdGivesACleanReplyWithThePcscCode) {
    // A socket path where no daemon listens: the context cannot be established.
    const std::string socket = "/tmp/reliab-no-pcscd-" + std::to_string(getpid()) + "/pcscd.comm";
    for (const std::string& reader : {std::string(), std::string("Sim Reader 00 00")}) {
        SCOPED_TRACE(reader.empty() ? "reader chosen" : "reader named");
        const Reply reply =
            readReply(runMeasured(CARDDATA_PATH, {carddataRequest("1234", "ABCD", reader)},
                                  {"PCSCLITE_CSOCK_NAME=" + socket}));
        ASSERT_TRUE(reply.wellFormed) << reply.run;
        EXPECT_EQ(reply.code, static_cast<std::int32_t>(0x8010001Du)) << reply.run;  // no service
        EXPECT_EQ(reply.msg, "");
    }
}

TEST_F(CardFaults, CardAnswersThatDoNotAddUp) {
    const long long kTooLarge = 0x77200002;  // 0x7401 as the service knows it
    const long long kTooShort = 0x7402;      // an answer shorter than it must be
    const CardKind kMain = CardKind::Main, kStarcos = CardKind::Starcos;
    const struct {
        const char* name;
        CardKind kind;
        const char* change;  // card description lines
        long long code;      // 0: the read succeeds with the right data
    } cases[] = {
        {"main: index file not found", kMain, "fault 80A40000020904=sw:6A82", 0x6A82},
        {"main: index answer longer than asked", kMain, "fault 80B0#1=long:10", kTooLarge},
        {"main: answer without a status word", kMain, "fault 80A40000020900=raw:90", kTooShort},
        {"main: index answer shorter than asked", kMain, "fault 80B0#1=short:10", kTooShort},
        {"main: record chunk cut short", kMain, "fault 80B00190=short:50", kTooShort},
        {"main: record chunk of the status word alone", kMain, "fault 80B00190=short:200",
         kTooShort},
        {"main: challenge too short", kMain, "fault 8084=short:3", kTooShort},
        {"main: challenge too long", kMain, "fault 8084=long:1", kTooLarge},
        {"main: record chunk with a warning status", kMain, "fault 80B00190=sw:6282", 0x6282},
        {"main: authentication refused", kMain, "fault 8082=sw:6982", 0x6982},
        // The status of the protected VERIFY is read from its last two bytes; the answer's MAC
        // is not checked, so a bad one changes nothing.
        {"main: protected VERIFY answer with a bad MAC", kMain, "verify-reply protected-bad-mac",
         0},
        {"STARCOS: FCI too short for a size", kStarcos, "fault 00A4000002FE15=raw:62029000",
         kTooShort},
        {"STARCOS: garbage FCI declaring 65535 bytes", kStarcos,
         "fault 00A4000002FE15=raw:FFFFFFFFFFFF9000", kTooLarge},
        {"STARCOS: index declared one byte too large", kStarcos, "declared-size FE15=141",
         kTooLarge},
        {"STARCOS: data file declared above 1000 bytes", kStarcos, "declared-size AC01=1001",
         kTooLarge},
        {"STARCOS: data chunk cut short", kStarcos, "fault 00B0#3=short:7", kTooShort},
        {"STARCOS: data chunk too long", kStarcos, "fault 00B0#3=long:7", kTooLarge},
        {"STARCOS: PIN refused, one try left", kStarcos, "fault 0020=sw:63C1", 0x63C1},
        {"STARCOS: application missing", kStarcos, "fault 00A4040C=sw:6A82", 0x6A82},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CardProfile profile = cardsim::described(cardWith(c.kind, "ABCD", 0x03), c.change);
        const Reply reply = readCard(profile);
        ASSERT_TRUE(reply.wellFormed) << reply.run;
        EXPECT_EQ(reply.code, c.code) << reply.run;
        EXPECT_EQ(reply.msg, c.code == 0 ? base64(dataSelectedBy(profile, 0x03)) : "") << reply.run;
    }
}

}  // namespace
}  // namespace reliability
