// A card that answers with the status bytes 00 00. No card gives that word (SW1 is 6x or 9x),
// and passed on unchanged it equals the library's own success value: a STARCOS read answered
// 00 00 once came back from readUserData as a success without data (found by the card fuzzer,
// fuzz/corpus/cardread_card_fuzzer/crash-status-word-0000). It must be a malformed answer.
#include <gtest/gtest.h>

#include "iso_commands.h"
#include "proprietary_commands.h"
#include "read_procedures.h"
#include "test_support.h"

namespace reliability {
namespace {

using cardtest::expect;
using cardtest::ScriptedChannel;

TEST(StatusWordZero, IsAMalformedAnswerInBothCommandFamilies) {
    const struct {
        const char* answer;
        cardread::Status iso;          // selectMasterFile, where 61 xx is success too
        cardread::Status proprietary;  // selectFile
    } cases[] = {
        {"0000", cardread::kStatusBadResponse, cardread::kStatusBadResponse},
        {"9000", cardread::kStatusOk, 0},
        {"6A82", 0x6A82, 0x6A82},
        {"6100", cardread::kStatusOk, 0x6100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer);
        {
            ScriptedChannel channel({expect("00A4000C023F00", c.answer)});
            EXPECT_EQ(cardread::IsoCommands(channel).selectMasterFile(), c.iso);
        }
        {
            ScriptedChannel channel({expect("80A40000023F00", c.answer)});
            cardread::KeyStore keys;
            EXPECT_EQ(cardread::ProprietaryCommands(channel, keys).selectFile(0x3F00),
                      c.proprietary);
        }
    }
}

TEST(StatusWordZero, StarcosReadAnsweredZeroIsNoSuccess) {
    ScriptedChannel channel({expect("00A4000C023F00", "0000")});
    const std::uint8_t pin[] = {'1', '2', '3', '4'};
    std::uint8_t buffer[4000] = {};
    int length = sizeof buffer;
    const cardread::ReadRequest request{pin, 4, "ABCD", buffer, &length};
    EXPECT_EQ(cardread::readStarcosCard(channel, request), cardread::kStatusBadResponse);
    EXPECT_EQ(length, static_cast<int>(sizeof buffer));
}

}  // namespace
}  // namespace reliability
