// The simulated cards on their own, command by command: the rules the library tests lean on
// (selection, access conditions, the retry counter, the protected VERIFY, fault rules).
#include "card.h"

#include <gtest/gtest.h>

#include <sstream>

#include "card_crypto.h"

namespace cardsim {
namespace {

std::string answer(Card& card, const char* hex) {
    auto r = card.transmit(*fromHex(hex));
    return r ? toHex(*r) : "PULLED";
}

std::string sw(const std::string& response) {
    return response.size() >= 4 ? response.substr(response.size() - 4) : response;
}

CardProfile twoRecords(CardKind kind) {
    return patternCard(kind, {{"ABCD", 0x03}}, 2);
}

// The protected VERIFY as the library builds it, made here with OpenSSL.
Bytes protectedVerify(const Bytes& keyB, const Bytes& pinBlock, bool spoilMac = false) {
    Bytes r = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes body = pinBlock;
    Bytes mac = cbcMac(keyB, r, pinBlock);
    if (spoilMac) mac[7] ^= 0x80;
    body.insert(body.end(), mac.begin(), mac.end());
    Bytes enciphered = cbcEncryptPadded(keyB, r, body);
    Bytes command = {0x8C, 0x20, 0x00, 0x01, static_cast<std::uint8_t>(8 + enciphered.size())};
    command.reserve(command.size() + r.size() + enciphered.size());
    command.insert(command.end(), r.begin(), r.end());
    command.insert(command.end(), enciphered.begin(), enciphered.end());
    return command;
}

TEST(ApduParse, ShortCases) {
    const struct {
        const char* hex;
        bool ok;
        std::size_t data;
        int le;  // -1: none
    } cases[] = {
        {"80A40000", true, 0, -1},
        {"80B000008C", true, 0, 0x8C},
        {"00B0000000", true, 0, 256},
        {"80A40000023F00", true, 2, -1},
        {"80A40000023F0000", true, 2, 256},
        {"80A4000003 3F00", false, 0, -1},
        {"80A40000023F000000", false, 0, -1},
        {"80A400", false, 0, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hex);
        auto a = Apdu::parse(*fromHex(c.hex));
        ASSERT_EQ(a.has_value(), c.ok);
        if (!c.ok) continue;
        EXPECT_EQ(a->data.size(), c.data);
        EXPECT_EQ(a->le.value_or(-1), c.le);
    }
}

TEST(MainKind, SelectionFollowsTheCardLayout) {
    auto card = makeCard(twoRecords(CardKind::Main));
    const struct {
        const char* command;
        const char* status;
    } steps[] = {
        {"80A4000002AC01", "6A82"},  // data EFs are reached only from DF 0910
        {"80A40000020900", "9000"}, {"80A40000020904", "9000"}, {"80A40000020910", "9000"},
        {"80A4000002AC01", "9000"}, {"80A4000002AC02", "9000"},  // sibling EF
        {"80A4000002AC03", "6A82"},                              // no third record on this card
        {"80A40000023F00", "9000"}, {"80A40000020810", "6A82"},  // EF 0810 sits in DF 0800
        {"80A40000020800", "9000"}, {"80A40000020810", "9000"}, {"80A40100023F00", "6A86"},
    };
    for (const auto& s : steps) EXPECT_EQ(sw(answer(*card, s.command)), s.status) << s.command;
}

TEST(MainKind, DataNeedsPinAndAuthentication) {
    CardProfile profile = twoRecords(CardKind::Main);
    profile.keyB = Bytes(16, 0x11);
    profile.authKey = Bytes(16, 0x22);
    auto card = makeCard(profile);
    auto select = [&](std::initializer_list<const char*> path) {
        for (const char* c : path) ASSERT_EQ(answer(*card, c), "9000") << c;
    };
    select({"80A40000020900", "80A40000020910", "80A4000002AC01"});
    EXPECT_EQ(answer(*card, "80B0000010"), "6982");

    select({"80A40000023F00", "80A40000020800", "80A40000020810"});
    Bytes block = {'1', '2', '3', '4', 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(toHex(*card->transmit(protectedVerify(*profile.keyB, block, true))), "6988");
    EXPECT_EQ(card->triesLeft(), 3);  // a bad MAC is not a wrong PIN
    EXPECT_EQ(toHex(*card->transmit(protectedVerify(*profile.keyB, block))), "9000");
    EXPECT_EQ(card->pinBlocks().back(), block);

    select({"80A40000023F00", "80A40000020900", "80A40000020910", "80A4000002AC01"});
    EXPECT_EQ(answer(*card, "80B0000010"), "6982");                   // PIN alone is not enough
    EXPECT_EQ(answer(*card, "8082012208 0000000000000000"), "6985");  // no challenge yet
    std::string challenge = answer(*card, "8084000008");
    ASSERT_EQ(challenge.size(), 20u);
    Bytes cryptogram = encryptBlock(*profile.authKey, *fromHex(challenge.substr(0, 16)));
    EXPECT_EQ(answer(*card, ("8082012208" + toHex(cryptogram)).c_str()), "9000");
    EXPECT_EQ(answer(*card, ("8082012208" + toHex(cryptogram)).c_str()), "6985");  // used up
    EXPECT_EQ(answer(*card, "80B0000004"),
              toHex(Bytes(profile.records[1].begin(), profile.records[1].begin() + 4)) + "9000");
    // Offsets run into the file's end: the bytes there are, then 6282; past it 6B00.
    EXPECT_EQ(sw(answer(*card, "80B003E010")), "6282");
    EXPECT_EQ(answer(*card, "80B003E810"), "6B00");

    card->powerCycle();
    select({"80A40000020900", "80A40000020910", "80A4000002AC01"});
    EXPECT_EQ(answer(*card, "80B0000010"), "6982");  // a reset forgets PIN and authentication
}

TEST(BothKinds, RetryCounterCountsDownAndBlocks) {
    for (CardKind kind : {CardKind::Main, CardKind::Starcos}) {
        SCOPED_TRACE(kind == CardKind::Main ? "main" : "starcos");
        CardProfile profile = twoRecords(kind);
        profile.keyB = Bytes(16, 0x33);
        profile.authKey = Bytes(16, 0x44);
        auto card = makeCard(profile);
        auto verify = [&](const std::string& pin) {
            if (kind == CardKind::Main) {
                answer(*card, "80A40000020800");
                answer(*card, "80A40000020810");
                Bytes block(pin.begin(), pin.end());
                block.resize(10, 0xFF);
                return toHex(*card->transmit(protectedVerify(*profile.keyB, block)));
            }
            answer(*card, "00A4040C0CA000000063504B43532D3135");
            Bytes block(pin.begin(), pin.end());
            block.resize(8, 0x20);
            return answer(*card, ("0020008208" + toHex(block)).c_str());
        };
        EXPECT_EQ(verify("0000"), "63C2");
        EXPECT_EQ(verify("1234"), "9000");  // a right PIN restores the counter
        EXPECT_EQ(verify("0000"), "63C2");
        EXPECT_EQ(verify("0000"), "63C1");
        EXPECT_EQ(verify("0000"), "63C0");
        EXPECT_EQ(verify("1234"), "6983");  // blocked, even for the right PIN
    }
}

TEST(StarcosKind, FcpCarriesTheSizeInBytesFourAndFive) {
    CardProfile profile = twoRecords(CardKind::Starcos);
    profile.records[2] = patternRecord(2, 300);
    profile.declaredSizes[0xAC01] = 0x0123;
    auto card = makeCard(profile);
    EXPECT_EQ(answer(*card, "00A4000C023F00"), "9000");
    EXPECT_EQ(answer(*card, "00A4000002FE15").substr(0, 12), "620B8002008C");
    EXPECT_EQ(answer(*card, "00A4000002AC01"), "6A82");              // inside the application only
    EXPECT_EQ(answer(*card, "00200082083132333420202020"), "6A88");  // PIN lives there too
    EXPECT_EQ(answer(*card, "00A4040C0CA000000063504B43532D3135"), "9000");
    EXPECT_EQ(answer(*card, "00A4000002AC01").substr(0, 12), "620B80020123");
    EXPECT_EQ(answer(*card, "00A4000002AC02").substr(0, 12), "620B8002012C");
    EXPECT_EQ(answer(*card, "00B0000000"), "6982");
}

// A card changed by description lines, then sent one command once for each answer.
struct FaultCase {
    const char* name;
    const char* description;
    const char* command;
    const char* answers;  // separated by blanks
};

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class Faults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(Faults, ChangeOrWithholdAnswers) {
    CardProfile profile = twoRecords(CardKind::Main);
    profile.keyB = profile.authKey = Bytes(16, 0x55);
    auto card = makeCard(described(profile, GetParam().description));
    std::istringstream answers(GetParam().answers);
    for (std::string want; answers >> want;) {
        std::string got = answer(*card, GetParam().command);
        if (want.rfind("len:", 0) == 0) {
            EXPECT_EQ(got.size() / 2, std::stoul(want.substr(4)));
            EXPECT_EQ(sw(got), "9000");
        } else {
            EXPECT_EQ(got, want);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Faults,
    ::testing::Values(
        FaultCase{"StatusEveryTime", "fault 80A40000023F00=sw:6A82", "80A40000023F00",
                  "6A82 6A82 6A82"},
        FaultCase{"StatusSecondTimeOnly", "fault 80A40000023F00#2=sw:6F00", "80A40000023F00",
                  "9000 6F00 9000"},
        FaultCase{"RawAnswer", "fault 80A4=raw:90", "80A40000023F00", "90 90 90"},
        FaultCase{"ShortAnswer", "fault 8084=short:6", "8084000008", "len:4 len:4 len:4"},
        FaultCase{"LongAnswer", "fault 8084=long:2", "8084000008", "len:12 len:12 len:12"},
        FaultCase{"PulledAtTheThird", "fault 80A40000023F00#3=drop", "80A40000023F00",
                  "9000 9000 PULLED"},
        // drop-after pulls the card at the next command, whatever it is.
        FaultCase{"DropAfterTwo", "kind starcos\ndrop-after 2", "00A4000C023F00",
                  "9000 9000 PULLED"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cardsim
