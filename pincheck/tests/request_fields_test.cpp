// The quote-counting reader of the request, through the three fields the program reads.
#include "request_fields.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
    const char* name;
    std::string request;
    std::string function;
    std::string pin;
    std::string slot;
};

const ParseCase kParseCases[] = {
    {"FullRequest", R"({"CA_Function":"x","sPin":"1234","slotID":"0"})", "x", "1234", "0"},
    {"NoClosingBraceDropsLastPair", R"({"CA_Function":"x","sPin":"1234","slotID":"0")", "x", "1234",
     ""},
    {"BlanksAndLineBreaks", "{ \"CA_Function\" :\n \"x\" ,\r\n\t\"sPin\"  :  \"1234\" }", "x",
     "1234", ""},
    {"AnyBytesSeparateNameAndValue", R"({"sPin" = "1234", "slotID"xx"5"})", "", "1234", "5"},
    {"UnquotedValueShiftsPairing", R"({"slotID":-1,"sPin":"1234"})", "", "", "sPin"},
    {"BackslashIsOrdinaryByte", R"({"sPin":"12\"34","CA_Function":"f"})", "", "12\\", ""},
    {"RepeatedNameKeepsFirstValue", R"({"sPin":"1111","sPin":"2222","slotID":"1"})", "", "1111",
     "1"},
    {"EmptyRequest", "", "", "", ""},
    {"NoQuotes", "{sPin:1234}", "", "", ""},
    {"EmptyValue", R"({"sPin":"","slotID":"3"})", "", "", "3"},
    {"HighBytesPassThrough", "{\"sPin\":\"\xB1\x4B\xE5\xAF\x86\",\"CA_Function\":\"\xA4\x40\"}",
     "\xA4\x40", "\xB1\x4B\xE5\xAF\x86", ""},
    {"ControlBytesKept", "{\"CA_Function\":\"a\\b\nc\x01\",\"x\":\"\"}", "a\\b\nc\x01", "", ""},
    {"PairEnteredOnAnyFollowingByte", R"({"sPin":"9" "slotID":"4"x)", "", "9", "4"},
    {"ValueClosingAtEndNotEntered", R"("sPin":"1234")", "", "", ""},
    {"MissingQuoteRunsValueOn", R"({"sPin":"1234,"slotID":"2"})", "", "1234,", ""},
    {"NestedObjectValueShifts", R"({"o":{"sPin":"1"},"sPin":"2"})", "", "", ""},
};

void PrintTo(const ParseCase& c, std::ostream* os) {
    *os << c.name;
}

class RequestParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(RequestParse, YieldsTheFieldsAsTheyStood) {
    const ParseCase& c = GetParam();
    pincheck::RequestFields fields(c.request);
    EXPECT_EQ(fields.get("CA_Function"), c.function);
    EXPECT_EQ(fields.get("sPin"), c.pin);
    EXPECT_EQ(fields.get("slotID"), c.slot);
}

INSTANTIATE_TEST_SUITE_P(Table, RequestParse, ::testing::ValuesIn(kParseCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RequestFieldsGet, MissingNameReadsEmptyAndStaysEmpty) {
    pincheck::RequestFields fields(R"({"a":"1"})");
    EXPECT_EQ(fields.get("b"), "");
    EXPECT_EQ(fields.get("b"), "");
    EXPECT_EQ(fields.get("a"), "1");
}

TEST(RequestFieldsGet, NamesAreExactBytes) {
    pincheck::RequestFields fields(R"({"spin":"1"," sPin":"2","sPin ":"3"})");
    EXPECT_EQ(fields.get("sPin"), "");
    EXPECT_EQ(fields.get("spin"), "1");
    EXPECT_EQ(fields.get(" sPin"), "2");
    EXPECT_EQ(fields.get("sPin "), "3");
}

TEST(RequestFieldsGet, LongRequestWithManyPairs) {
    // Many pairs and long values: every pair is entered, values do not bleed into each other.
    std::string request = "{";
    for (int i = 0; i < 2000; ++i) {
        request += "\"n" + std::to_string(i) + "\":\"" + std::string(i % 37, 'v') +
                   std::to_string(i) + "\",";
    }
    request += "\"sPin\":\"" + std::string(5000, '5') + "\"}";
    pincheck::RequestFields fields(request);
    for (int i = 0; i < 2000; i += 97)
        EXPECT_EQ(fields.get("n" + std::to_string(i)),
                  std::string(i % 37, 'v') + std::to_string(i));
    EXPECT_EQ(fields.get("sPin"), std::string(5000, '5'));
}

}  // namespace
