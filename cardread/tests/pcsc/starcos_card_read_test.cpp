// readUserData on the STARCOS card kind through pcscd: ISO SELECT with the size from the FCP,
// READ BINARY in chunks of 252, the PKCS#15 application and the plain VERIFY with reference 82.
#include "read_fixture.h"

namespace cardtest {
namespace {

class StarcosCardRead : public ThroughPcscd {};

TEST_F(StarcosCardRead, ReadsRecordsAfterPlainVerify) {
    CardProfile profile = abcdCard(CardKind::Starcos, 0x05);
    pcsctest::CardInReader card(pcscd(), profile);
    ReadOutcome r = read();
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.length, 2000);
    Bytes expected = dataSelectedBy(profile, 0x05);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), r.data.begin()));

    const std::vector<std::string> index = {"00A4000C023F00", "00A4000002FE15", "00B0000000"};
    std::vector<std::string> want = index;
    want.insert(want.end(), index.begin(), index.end());
    want.insert(want.end(), {"00A4040C0CA000000063504B43532D3135", "002000820831323334202020 20"});
    want.back().erase(want.back().find(' '), 1);
    for (const char* fid : {"AC01", "AC03"}) {
        want.push_back(std::string("00A4000002") + fid);
        // 1000 bytes: three chunks of 252 from offsets 0, FC, 1F8, then 244 (F4) from 2F4.
        want.insert(want.end(), {"00B00000FC", "00B000FCFC", "00B001F8FC", "00B002F4F4"});
    }
    EXPECT_EQ(hexLines(card->commands()), want);
}

TEST_F(StarcosCardRead, FileSizeDecidesTheChunks) {
    const struct {
        int size;
        std::vector<std::string> reads;
    } cases[] = {
        {1, {"00B0000000"}},
        {252, {"00B0000000"}},
        {253, {"00B00000FC", "00B000FC01"}},
        {300, {"00B00000FC", "00B000FC30"}},
        {504, {"00B00000FC", "00B000FCFC"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        CardProfile profile = abcdCard(CardKind::Starcos, 0x01);
        profile.records[1] = cardsim::patternRecord(1, static_cast<std::size_t>(c.size));
        pcsctest::CardInReader card(pcscd(), profile);
        // The rest of the 1000-byte slot keeps what the caller had in it.
        Bytes buffer(1000, 0xA5);
        int length = 1000;
        const unsigned char pin[] = "1234";
        ASSERT_EQ(readUserData(reader().c_str(), pin, 4, "ABCD", buffer.data(), &length), 0);
        EXPECT_EQ(length, 1000);
        Bytes expected = profile.records[1];
        expected.resize(1000, 0xA5);
        EXPECT_EQ(buffer, expected);
        std::vector<std::string> lines = hexLines(card->commands());
        ASSERT_GE(lines.size(), c.reads.size());
        EXPECT_EQ(
            std::vector<std::string>(lines.end() - static_cast<long>(c.reads.size()), lines.end()),
            c.reads);
        EXPECT_EQ(lines[lines.size() - c.reads.size() - 1], "00A4000002AC01");
    }
}

TEST_F(StarcosCardRead, OversizedOrShortFilesAreErrors) {
    const struct {
        const char* name;
        std::size_t indexSize;
        std::string change;  // card description lines
        int status;
    } cases[] = {
        {"index file of 141 bytes", 141, "", 0x7401},
        {"data file of 1001 bytes", 140, "record-size 1=1001", 0x7401},
        {"FCI of 5 bytes", 140, "fault 00A4000002AC01=raw:62038002039000", 0x7402},
        {"FCI claims more than the file holds", 140, "record-size 1=300\ndeclared-size AC01=600",
         0x6282},
        {"READ answers fewer bytes than the FCI size", 140, "fault 00B000FCFC=raw:00119000",
         0x7402},
        {"READ answers more bytes than asked", 140, "fault 00B000FCFC=long:1", 0x7401},
        // Le 00 asks for up to 256 bytes: the first 140 of a longer answer are the index.
        {"index READ answers 254 bytes", 140,
         "fault 00B0000000=raw:" + std::string(254 * 2, '4') + "9000", 0x7412},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CardProfile profile = abcdCard(CardKind::Starcos, 0x01, c.change);
        Bytes index = cardsim::buildIndex(profile.entries);
        index.resize(c.indexSize, 0);
        profile.rawIndex = index;
        pcsctest::CardInReader card(pcscd(), profile);
        EXPECT_EQ(read().status, c.status) << ::testing::PrintToString(hexLines(card->commands()));
    }
}

}  // namespace
}  // namespace cardtest
