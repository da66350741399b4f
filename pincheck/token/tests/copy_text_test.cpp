// The text-copy rule every text output of the layer follows.
#include "copy_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using token::CopyPaddedText;

namespace {

struct CopyCase {
    const char* name;
    std::string field;  // the module's fixed-width field, all of it
    CK_ULONG size;      // the caller's buffer size on entry
    TokenResult result;
    CK_ULONG length;     // the length afterwards
    std::string buffer;  // the buffer afterwards, up to and with the NUL when written
};

void PrintTo(const CopyCase& c, std::ostream* os) {
    *os << c.name;
}

std::string padded(const std::string& text, std::size_t width, char pad = ' ') {
    return text + std::string(width - text.size(), pad);
}

class CopyPaddedTextCases : public ::testing::TestWithParam<CopyCase> {};

TEST_P(CopyPaddedTextCases, CopiesCutsOrReportsTheLength) {
    const CopyCase& c = GetParam();
    char buffer[80];
    std::memset(buffer, '#', sizeof buffer);
    CK_ULONG length = c.size;
    const auto* field = reinterpret_cast<const unsigned char*>(c.field.data());
    EXPECT_EQ(CopyPaddedText(field, c.field.size(), buffer, &length), c.result);
    EXPECT_EQ(length, c.length);
    EXPECT_EQ(std::string(buffer, c.buffer.size()), c.buffer);
    // Nothing is written past the text's NUL (or at all, when the text was refused).
    EXPECT_EQ(buffer[c.buffer.size()], '#');
}

const CopyCase kCases[] = {
    {"LabelFitsWithItsNul", padded("ABC", 32), 4, 0, 3, std::string("ABC\0", 4)},
    {"LabelOneShortOfTheNul", padded("ABC", 32), 3, 0xDA000150u, 3, ""},
    {"ZeroSizeLearnsTheLength", padded("ABC", 32), 0, 0xDA000150u, 3, ""},
    {"AllBlanksWritesNothing", std::string(32, ' '), 17, 0, 17, ""},
    {"AllNulsWritesNothing", std::string(32, '\0'), 17, 0, 17, ""},
    {"MixedBlanksAndNulsAreCut", "AB" + std::string(" \0 \0", 4) + std::string(26, ' '), 80, 0, 2,
     std::string("AB\0", 3)},
    {"InnerBlanksStay", padded("A B  C", 32), 80, 0, 6, std::string("A B  C\0", 7)},
    {"LeadingBlanksStay", padded("  X", 16), 80, 0, 3, std::string("  X\0", 4)},
    {"FullSerialNeedsSeventeen", "0123456789ABCDEF", 17, 0, 16,
     std::string("0123456789ABCDEF\0", 17)},
    {"FullSerialInSixteenIsRefused", "0123456789ABCDEF", 16, 0xDA000150u, 16, ""},
    {"FullSlotDescription", std::string(64, 'd'), 65, 0, 64, std::string(64, 'd') + '\0'},
    {"NoCharacterSetConversion", padded("\xA5\xCE\xA4\xE1", 32), 80, 0, 4,
     std::string("\xA5\xCE\xA4\xE1\0", 5)},
};

INSTANTIATE_TEST_SUITE_P(Texts, CopyPaddedTextCases, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CopyPaddedText, NullBufferOnlyLearnsTheLength) {
    const std::string field = padded("ABC", 32);
    CK_ULONG length = 100;
    EXPECT_EQ(CopyPaddedText(reinterpret_cast<const unsigned char*>(field.data()), field.size(),
                             nullptr, &length),
              0xDA000150u);
    EXPECT_EQ(length, 3u);
}

}  // namespace
