#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base64.h"
#include "card_data_command.h"
#include "e2e/request_faults.h"
#include "reply.h"

namespace {

// The library call's stand-in: what the two calls return, and what they were given.
struct FakeLibrary {
    int sizeResult = 0;
    int size = 0;
    int readResult = 0;
    std::string data;
    struct Call {
        bool hasReader;
        std::string reader;
        std::string pin;  // pinLength bytes
        std::string key;
        bool hasBuffer;
        int lengthOnEntry;
    };
    std::vector<Call> calls;
};
FakeLibrary fake;

int fakeReadUserData(const char* readerName, const unsigned char* pin, int pinLength,
                     const char* recordKey, unsigned char* outBuffer, int* ioLength) {
    fake.calls.push_back(
        {readerName != nullptr, readerName ? readerName : "",
         std::string(reinterpret_cast<const char*>(pin), static_cast<std::size_t>(pinLength)),
         recordKey, outBuffer != nullptr, *ioLength});
    if (pinLength == 0) return -1;
    if (!outBuffer) {
        if (fake.sizeResult == 0) *ioLength = fake.size;
        return fake.sizeResult;
    }
    if (fake.readResult != 0) return fake.readResult;
    if (static_cast<std::size_t>(*ioLength) < fake.data.size()) return 0x7401;
    std::memcpy(outBuffer, fake.data.data(), fake.data.size());
    *ioLength = static_cast<int>(fake.data.size());
    return 0;
}

using carddatatest::replyLine;

const char* const kRequest = "{\"UserPIN\":\"1234\",\"SNO\":\"A001\"}";

std::string run(const std::vector<const char*>& args) {
    return carddata::runCardData(static_cast<int>(args.size()), args.data(), fakeReadUserData);
}

struct CardDataTest : ::testing::Test {
    void SetUp() override {
        fake = FakeLibrary();
        fake.size = 3;
        fake.data = "abc";
    }
};

TEST_F(CardDataTest, RequestChecksGiveTheirRepliesWithoutALibraryCall) {
    std::vector<carddatatest::RequestFault> cases = carddatatest::requestFaults();
    // Valid JSON that is not an object is answered as a malformed request.
    for (const char* text : {"[1,2]", "\"text\"", "42", "true"})
        cases.push_back({text, {text}, "JSON Format Error", carddatatest::kJsonFormatError});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<const char*> args;
        for (const std::string& arg : c.args) args.push_back(arg.c_str());
        fake.calls.clear();
        EXPECT_EQ(replyLine(c.msg, c.code), run(args));
        EXPECT_TRUE(fake.calls.empty());
    }
}

TEST_F(CardDataTest, LimitsAndOptionalMembersReachTheLibraryAsGiven) {
    const std::string pin49(49, '7'), sno99(99, 'S');
    const struct {
        std::string request;
        bool hasReader;
        std::string reader;
        std::string pin;
        std::string key;
    } cases[] = {
        {"{\"UserPIN\":\"" + pin49 + "\",\"SNO\":\"" + sno99 + "\"}", false, "", pin49, sno99},
        {"// comment\n{\"UserPIN\":\"1234\", /* c */ \"SNO\":\"A001\",\"ReaderSlot\":\"R 00\"}",
         true, "R 00", "1234", "A001"},
        {"{\"UserPIN\":\"1234\",\"SNO\":\"A001\",\"ReaderSlot\":\"\"}", false, "", "1234", "A001"},
        {"{\"UserPIN\":\"1234\",\"SNO\":\"A001\",\"ReaderSlot\":3}", false, "", "1234", "A001"},
        {"{\"UserPIN\":\"1234\",\"SNO\":\"A001\",\"ReaderSlot\":null}", false, "", "1234", "A001"},
        // The PIN length stops at the first NUL, as for a C text.
        {"{\"UserPIN\":\"12\\u000034\",\"SNO\":\"A001\"}", false, "", "12", "A001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        fake.calls.clear();
        EXPECT_EQ(replyLine("YWJj", 0), run({c.request.c_str()}));
        ASSERT_EQ(2u, fake.calls.size());
        for (const auto& call : fake.calls) {
            EXPECT_EQ(c.hasReader, call.hasReader);
            EXPECT_EQ(c.reader, call.reader);
            EXPECT_EQ(c.pin, call.pin);
            EXPECT_EQ(c.key, call.key);
        }
        EXPECT_FALSE(fake.calls[0].hasBuffer);
        EXPECT_EQ(0, fake.calls[0].lengthOnEntry);
        EXPECT_TRUE(fake.calls[1].hasBuffer);
        EXPECT_EQ(3, fake.calls[1].lengthOnEntry);
    }
}

TEST_F(CardDataTest, LibraryStatusesAreMappedWithAnEmptyMessage) {
    // The service's codes as its own table gives them, in decimal (PC/SC errors, their top bit
    // set, print negative), whether the size query or the read returns the status.
    const int kRemovedCard = static_cast<int>(0x80100069u);
    const int kNoSmartcard = static_cast<int>(0x8010000Cu);
    const std::pair<int, long long> cases[] = {
        {-1, 1979711500},     {0x7101, 1998585865},     {0x7301, 1998585861},
        {0x7302, 1998585862}, {0x7303, 1998585863},     {0x7401, 1998585858},
        {0x7411, 1998585872}, {0x7412, 1998585873},     {0x7413, 1998585864},
        {0x7414, 1998585859}, {0x7415, 1998585860},     {kRemovedCard, 1979711494},
        {0x63C2, 0x63C2},     {0x20100001, 0x20100001}, {kNoSmartcard, -2146435060}};
    for (const auto& [status, code] : cases) {
        for (const bool inRead : {false, true}) {
            fake.sizeResult = inRead ? 0 : status;
            fake.readResult = inRead ? status : 0;
            EXPECT_EQ(replyLine("", code), run({kRequest}))
                << std::hex << status << (inRead ? " from the read" : " from the size query");
        }
    }
}

TEST_F(CardDataTest, EmptyPinReachesTheLibraryWhichRefusesIt) {
    EXPECT_EQ(replyLine("", 1979711500), run({"{\"UserPIN\":\"\",\"SNO\":\"A001\"}"}));
    ASSERT_EQ(1u, fake.calls.size());
}

TEST_F(CardDataTest, NoDataStillReadsAndRepliesNoData) {
    fake.size = 0;
    fake.data.clear();
    EXPECT_EQ(replyLine("", 1986002945), run({kRequest}));
    ASSERT_EQ(2u, fake.calls.size());
    EXPECT_TRUE(fake.calls[1].hasBuffer) << "the second call must be a read, not a size query";
}

TEST_F(CardDataTest, DataIsOneUnbrokenBase64String) {
    std::string data;
    for (int i = 0; i < 46; ++i) data += static_cast<char>(i * 7);
    fake.size = 46;
    fake.data = data;
    const std::string line = run({kRequest});
    // Python's base64 module of the same 46 bytes: 64 characters, past the encoder's 60-character
    // line, so a line break left in the reply would show.
    const std::string expected = "AAcOFRwjKjE4P0ZNVFtiaXB3foWMk5qhqK+2vcTL0tng5+71/AMKERgfJi00Ow==";
    EXPECT_EQ(replyLine(expected, 0), line);
}

TEST(Base64, EncodesGroupsPaddingAndLineBreaks) {
    // 45 bytes are 60 characters of full groups, a line break follows them; the padded last
    // group never gets one.
    const std::string line = std::string(60, 'A') + "\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xfb\xff\xbf", "+/+/"},
        {std::string(45, '\0'), line},
        {std::string(45, '\0') + "\xff", line + "/w=="},
        {std::string(90, '\0'), line + line}};
    for (const auto& [input, expected] : cases) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(input.data());
        EXPECT_EQ(expected, carddata::base64Encode(bytes, input.size()))
            << input.size() << " bytes";
    }
    EXPECT_EQ("AAAA/w==", carddata::withoutLineBreaks("AA\r\nAA\n/w\r=="));
}

TEST(Reply, IsCompactJsonInMemberOrderWithEscapes) {
    EXPECT_EQ("{\"msg\":\"JSON Format Error\",\"ret_code\":1979711499,\"version\":\"1.0.4\"}\n",
              carddata::replyLine(carddata::kJsonFormatError, "JSON Format Error"));
    EXPECT_EQ("{\"msg\":\"a/b\\\"c\\\\\",\"ret_code\":0,\"version\":\"1.0.4\"}\n",
              carddata::replyLine(0, "a/b\"c\\"));
    EXPECT_EQ("{\"msg\":\"\",\"ret_code\":-2146435060,\"version\":\"1.0.4\"}\n",
              carddata::replyLine(static_cast<std::int32_t>(0x8010000Cu), ""));
}

}  // namespace
