#include "reader_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <utility>

#include "issuer_keys.h"
#include "test_support.h"

namespace cardtest {
namespace {

// A PC/SC service with readers and cards of the test's making; it logs every call.
class FakePcsc : public cardread::PcscApi {
  public:
    std::map<std::string, Bytes> readers;  // reader name -> ATR of the card in it
    std::vector<std::string> calls;
    cardread::Status establishResult = 0;
    cardread::Status dialogResult = 0;
    Bytes swappedIn;  // when set, the card that "Reader 0" holds after the first disconnect
    std::unique_ptr<ScriptedChannel> channel;
    int openContexts = 0;
    int openCards = 0;
    int openTransactions = 0;

    cardread::Status establishContext(cardread::PcscContext& context) override {
        calls.push_back("establish");
        if (establishResult != 0) return establishResult;
        ++openContexts;
        context = 7;
        return 0;
    }
    cardread::Status releaseContext(cardread::PcscContext) override {
        calls.push_back("release");
        --openContexts;
        return 0;
    }
    cardread::Status connect(cardread::PcscContext, const char* name,
                             cardread::PcscCard& card) override {
        calls.push_back(std::string("connect ") + name);
        auto it = readers.find(name);
        if (it == readers.end()) return static_cast<cardread::Status>(0x80100009u);
        if (it->second.empty()) return cardread::kPcscNoSmartcard;
        current_ = it->second;
        ++openCards;
        card = 42;
        return 0;
    }
    cardread::Status disconnect(cardread::PcscCard) override {
        calls.push_back("disconnect");
        if (!swappedIn.empty()) readers["Reader 0"] = std::exchange(swappedIn, Bytes{});
        --openCards;
        return 0;
    }
    cardread::Status beginTransaction(cardread::PcscCard) override {
        calls.push_back("begin");
        ++openTransactions;
        return 0;
    }
    cardread::Status endTransaction(cardread::PcscCard) override {
        calls.push_back("end");
        --openTransactions;
        return 0;
    }
    cardread::Status readAtr(cardread::PcscCard, std::uint8_t* atr, std::size_t capacity,
                             std::size_t& length) override {
        calls.push_back("atr");
        if (current_.size() > capacity) return cardread::kPcscInsufficientBuffer;
        std::memcpy(atr, current_.data(), current_.size());
        length = current_.size();
        return 0;
    }
    void introduceCardType(cardread::PcscContext, const char* name,
                           const cardread::CardType&) override {
        introduced.push_back(name);
    }
    cardread::Status chooseCard(cardread::PcscContext context, char* readerName,
                                std::size_t capacity, cardread::PcscCard& card) override {
        calls.push_back("dialog");
        if (dialogResult != 0) return dialogResult;
        for (auto& [name, atr] : readers) {
            if (atr.empty() || name.size() >= capacity) continue;
            std::strcpy(readerName, name.c_str());
            return connect(context, name.c_str(), card);
        }
        return cardread::kPcscNoSmartcard;
    }
    cardread::Status transmit(cardread::PcscCard, const std::uint8_t* command, std::size_t length,
                              std::size_t capacity, Bytes& response) override {
        calls.push_back("transmit");
        if (!channel) {
            ADD_FAILURE() << "no card command expected";
            return cardread::kPcscRemovedCard;
        }
        return channel->transmit(command, length, capacity, response);
    }

    std::vector<std::string> introduced;

  private:
    Bytes current_;
};

const Bytes kPelvoAtr = hex("3B B8 13 00 81 31 FA 52 56 45 4B 4C 55 4E 44 41 5C");
const Bytes kStarcosAtr = hex("3B B7 94 00 81 31 FE 65 53 50 4B 32 33 90 00 D1");
const Bytes kZarqoAtr = hex("3B B8 13 00 81 31 FA 52 5A 61 72 71 6F 56 32 32 5C");

struct ReaderSessionTest : ::testing::Test {
    FakePcsc pcsc;
    cardread::LibraryState state;
    // The test key file, read here on its own so a mismatch between its blocks and its clear
    // keys shows up.
    std::map<std::string, Bytes> keys = cardsim::readKeyFile(CARDREAD_TEST_KEY_FILE);
    cardread::IssuerSecrets secrets{keys["kdk_half_1"].data(),  keys["kdk_half_2"].data(),
                                    keys["key_block_a"].data(), keys["key_block_a"].size(),
                                    keys["key_block_b"].data(), keys["key_block_b"].size(),
                                    keys["auth_key"].data(),    keys["auth_key"].size()};
    int length = 0;

    // The size query of record A001 with PIN 1234 (null reader: the dialog); the size lands in
    // `length`.
    int sizeQuery(const char* reader) {
        const std::uint8_t pin[] = {'1', '2', '3', '4'};
        length = 0;
        return cardread::ReaderSession(pcsc, state, secrets)
            .readUserData(reader, pin, 4, "A001", nullptr, &length);
    }
    void script(std::vector<Exchange> exchanges) {
        pcsc.channel = std::make_unique<ScriptedChannel>(std::move(exchanges));
    }
    void expectEverythingReleased() {
        EXPECT_EQ(0, pcsc.openContexts);
        EXPECT_EQ(0, pcsc.openCards);
        EXPECT_EQ(0, pcsc.openTransactions);
    }
};

TEST_F(ReaderSessionTest, MissingArgumentsFailBeforeAnyPcscCall) {
    std::uint8_t pin[] = {'1', '2'};
    cardread::ReaderSession session(pcsc, state, secrets);
    EXPECT_EQ(-1, session.readUserData("R", nullptr, 2, "A001", nullptr, &length));
    EXPECT_EQ(-1, session.readUserData("R", pin, 0, "A001", nullptr, &length));
    EXPECT_EQ(-1, session.readUserData("R", pin, -3, "A001", nullptr, &length));
    EXPECT_EQ(-1, session.readUserData("R", pin, 2, nullptr, nullptr, &length));
    EXPECT_EQ(-1, session.readUserData("R", pin, 2, "A001", nullptr, nullptr));
    EXPECT_TRUE(pcsc.calls.empty());
    EXPECT_EQ(0, length);
}

TEST_F(ReaderSessionTest, UnreadableOrUnrecognisedCardsGiveTheirStatus) {
    const struct {
        const char* name;
        const char* reader;  // null: dialog
        Bytes atr;           // empty: reader without card
        cardread::Status expected;
    } cases[] = {
        {"no such reader", "Other Reader", kPelvoAtr, cardread::kPcscRemovedCard},
        {"reader without a card", "Reader 0", {}, cardread::kPcscRemovedCard},
        {"unknown ATR", "Reader 0", hex("3B 02 14 50"), cardread::kPcscRemovedCard},
        {"STARCOS ATR plus a byte", "Reader 0", kStarcosAtr + hex("00"),
         cardread::kPcscRemovedCard},
        {"recognised but not readable", "Reader 0", kZarqoAtr, -1},
        {"dialog finds no card", nullptr, {}, cardread::kPcscNoSmartcard},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        pcsc = FakePcsc();
        pcsc.readers["Reader 0"] = c.atr;
        EXPECT_EQ(c.expected, sizeQuery(c.reader));
        EXPECT_EQ(0, length);
        expectEverythingReleased();
    }
}

TEST_F(ReaderSessionTest, CancelledDialogIsReturnedAndFillsNoSlot) {
    pcsc.readers["Reader 0"] = kPelvoAtr;
    pcsc.dialogResult = static_cast<cardread::Status>(0x8010006Eu);  // SCARD_W_CANCELLED_BY_USER
    EXPECT_EQ(pcsc.dialogResult, sizeQuery(nullptr));
    EXPECT_EQ(0, state.recognisedCount);
    expectEverythingReleased();
}

TEST_F(ReaderSessionTest, FailedContextIsReturnedUnchanged) {
    pcsc.establishResult = static_cast<cardread::Status>(0x8010001Du);  // no service
    EXPECT_EQ(pcsc.establishResult, sizeQuery("Reader 0"));
}

TEST_F(ReaderSessionTest, RecognitionRegistersTheEightCardTypes) {
    pcsc.readers["Reader 0"] = {};
    sizeQuery("Reader 0");
    EXPECT_EQ(std::vector<std::string>({"Setec SetCos 4.3", "SafeSignCard", "VEK Quenta Card 32K",
                                        "VEK Pelvo Card 32K", "Morvaxen Pendra 32K",
                                        "Morvaxen Zarqo GP PKI Card", "JCOP 20", "JCOP 31"}),
              pcsc.introduced);
}

// The size query of the main kind: the whole session, transactions around recognition and
// around the read, ends with nothing left open.
TEST_F(ReaderSessionTest, SizeQueryOnTheMainKindRunsInsideTransactions) {
    pcsc.readers["Reader 0"] = kPelvoAtr;
    script(indexRead(0x3F));
    EXPECT_EQ(0, sizeQuery("Reader 0"));
    EXPECT_EQ(6000, length);
    // Recognition is a session of its own; the read's session adds the four commands.
    const std::vector<std::string> recognition = {"establish", "connect Reader 0", "begin",  "atr",
                                                  "end",       "disconnect",       "release"};
    std::vector<std::string> read = recognition;
    read.insert(read.begin() + 4, 4, "transmit");
    EXPECT_EQ(recognition + read, pcsc.calls);
    expectEverythingReleased();
    EXPECT_TRUE(state.keys.installed);
    const std::pair<const char*, const std::uint8_t*> installed[] = {
        {"key_a", state.keys.keyA.data()},
        {"key_b", state.keys.keyB.data()},
        {"key_b", state.keys.macKey.data()}};
    for (const auto& [name, key] : installed)
        EXPECT_EQ(toHex(keys.at(name)), toHex(Bytes(key, key + 16))) << name;
}

TEST_F(ReaderSessionTest, StarcosCardIsReadWithTheIsoFamilyAndNoKeys) {
    pcsc.readers["Reader 0"] = kStarcosAtr;
    script({expect("00 A4 00 0C 02 3F 00", "90 00"), expect("00 A4 00 00 02 FE 15", "6A 82")});
    EXPECT_EQ(0x6A82, sizeQuery(nullptr));
    EXPECT_FALSE(state.keys.installed);
    expectEverythingReleased();
}

// The card is swapped for one of the other kind between recognition and the session: the
// commands are those of the card the session holds, not of the one recognised.
TEST_F(ReaderSessionTest, CardSwappedAfterRecognitionIsReadAsTheKindItIs) {
    pcsc.readers["Reader 0"] = kPelvoAtr;
    pcsc.swappedIn = kStarcosAtr;
    script({expect("00 A4 00 0C 02 3F 00", "6A 82")});
    EXPECT_EQ(0x6A82, sizeQuery("Reader 0"));
    expectEverythingReleased();
}

TEST_F(ReaderSessionTest, KeysAreDecipheredOnceAndBadBlocksRefuseTheMainKind) {
    pcsc.readers["Reader 0"] = kPelvoAtr;
    Bytes badBlock = keys["key_block_a"];
    badBlock[23] ^= 0x01;  // the padding no longer deciphers to 80 00 ..
    secrets.keyBlockA = badBlock.data();
    EXPECT_EQ(-1, sizeQuery("Reader 0"));
    EXPECT_FALSE(state.keys.installed);
    expectEverythingReleased();

    // Installed once, the keys are not deciphered again: a bad block no longer matters.
    cardread::KeyStore store;
    cardread::IssuerSecrets good = secrets;
    good.keyBlockA = keys["key_block_a"].data();
    EXPECT_EQ(0, cardread::SetupKeys(store, good));
    EXPECT_EQ(0, cardread::SetupKeys(store, secrets));
    const Bytes shortBlock(16, 0);
    good.keyBlockB = shortBlock.data();
    good.keyBlockBLength = shortBlock.size();
    cardread::KeyStore fresh;
    EXPECT_EQ(-1, cardread::SetupKeys(fresh, good));
}

TEST_F(ReaderSessionTest, SlotsOutsideTheRecognisedOnesAreRefused) {
    cardread::ReaderSession session(pcsc, state, secrets);
    EXPECT_EQ(cardread::kStatusBadSlot, session.connectSession(1));
    EXPECT_EQ(cardread::kStatusBadSlot, session.connectSession(0));
    state.recognisedCount = 1;
    EXPECT_EQ(cardread::kStatusBadSlot, session.connectSession(2));
    EXPECT_TRUE(pcsc.calls.empty());
}

}  // namespace
}  // namespace cardtest
