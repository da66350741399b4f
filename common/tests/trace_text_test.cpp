// Texts in the support trace come from modules, readers and cards in any encoding; each must
// still make one valid JSON string, and valid UTF-8 must stay readable.
#include <gtest/gtest.h>

#include <string>

#include "common/trace.h"

namespace {

struct Case {
    const char* name;
    std::string text;
    std::string json;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class TraceText : public ::testing::TestWithParam<Case> {};

TEST_P(TraceText, IsOneJsonString) {
    EXPECT_EQ(cardtrace::quoted(GetParam().text), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TraceText,
    ::testing::Values(Case{"plain", "Reader 0", "\"Reader 0\""},
                      Case{"quoteAndBackslash", "a\"b\\c", "\"a\\\"b\\\\c\""},
                      Case{"controlsAndDelete", std::string("\0\n\x1F\x7F", 4),
                           "\"\\u0000\\u000a\\u001f\\u007f\""},
                      Case{"wholeUtf8", "\xC3\xA9\xE8\xAA\x9E\xF0\x9F\x92\xB3",
                           "\"\xC3\xA9\xE8\xAA\x9E\xF0\x9F\x92\xB3\""},
                      Case{"big5Bytes", "\xA5\xBF\xBD\x54", "\"\\u00a5\\u00bf\\u00bdT\""},
                      Case{"cutSequence", "\xE8\xAA", "\"\\u00e8\\u00aa\""},
                      Case{"overlongForms", "\xC0\xAF\xE0\x80\xAF",
                           "\"\\u00c0\\u00af\\u00e0\\u0080\\u00af\""},
                      Case{"surrogateHalf", "\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},
                      Case{"pastTheLastCodePoint", "\xF4\x90\x80\x80\xF5\x80",
                           "\"\\u00f4\\u0090\\u0080\\u0080\\u00f5\\u0080\""}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
