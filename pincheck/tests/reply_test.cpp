// The reply line and the slot text: decoded with an independent JSON reader and compared with
// the C library's atoi where that is defined.
#include "reply.h"

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "entry.h"
#include "fake_token_layer.h"

namespace {

Json::Value parseStrict(const std::string& line, std::string* errors) {
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    if (!reader->parse(line.data(), line.data() + line.size(), &root, errors)) return Json::Value();
    return root;
}

TEST(Reply, SuccessLineIsExact) {
    EXPECT_EQ(pincheck::buildReply("x", 0, ""), R"({"func":"x","ret_code":0,"message":""})");
    EXPECT_EQ(pincheck::buildReply("", 9988, "\xB8\xEA\xAE\xC6\xBF\xF9\xBB\x7E"),
              "{\"func\":\"\",\"ret_code\":9988,\"message\":\"\xB8\xEA\xAE\xC6\xBF\xF9\xBB\x7E\"}");
}

TEST(Reply, CodesAreUnsignedDecimal) {
    const struct {
        std::uint32_t code;
        const char* digits;
    } cases[] = {{0, "0"},
                 {1, "1"},
                 {9988, "9988"},
                 {0xDA000006u, "3657433094"},
                 {0xDA0000A0u, "3657433248"},
                 {0xDA0000A2u, "3657433250"},
                 {0xDA000150u, "3657433424"},
                 {0xFFFFFFFFu, "4294967295"}};
    for (const auto& c : cases) EXPECT_EQ(pincheck::formatUnsigned(c.code), c.digits);
}

TEST(Reply, FunctionNameDecodesBackToTheBytesThatArrived) {
    const std::string names[] = {"",
                                 "foo",
                                 "a\\b",
                                 "C:\\dir\\",
                                 "line\nbreak",
                                 "tab\there",
                                 "cr\rlf\n",
                                 "\x01\x1f\x7f",
                                 std::string("nul\0inside", 10),
                                 "quote\"inside",
                                 "\\u0041",
                                 "/slash/",
                                 "\b\f"};
    for (const std::string& name : names) {
        const std::string line = pincheck::buildReply(name, 3657433248u, "msg");
        EXPECT_EQ(line.find('\n'), std::string::npos) << "line break in reply for " << name;
        std::string errors;
        const Json::Value root = parseStrict(line, &errors);
        ASSERT_TRUE(root.isObject()) << line << ": " << errors;
        EXPECT_EQ(root["func"].asString(), name);
        EXPECT_EQ(root["ret_code"].asUInt(), 3657433248u);
        EXPECT_EQ(root["message"].asString(), "msg");
        EXPECT_EQ(root.size(), 3u);
    }
}

TEST(Reply, OnlyTheFunctionNameIsEscaped) {
    // The message is the program's own text and goes in as given; high bytes of the name too.
    EXPECT_EQ(pincheck::buildReply("\xA4\x40\\", 1, "a\\b"),
              "{\"func\":\"\xA4\x40\\\\\",\"ret_code\":1,\"message\":\"a\\b\"}");
}

TEST(SlotText, ReadsLikeAtoiWhereAtoiIsDefined) {
    const char* texts[] = {"",     "0",          "-1",          "2",       " 2",  "\t\n\v\f\r 3",
                           "2x",   "abc",        "+5",          "-0",      "--1", "+-1",
                           "- 1",  "007",        "12 34",       "x1",      "-12", "1e3",
                           "0x10", "2147483647", "-2147483648", "\xA4\x40"};
    for (const char* text : texts)
        EXPECT_EQ(pincheck::slotFromText(text), std::atoi(text)) << "text \"" << text << "\"";
}

TEST(SlotText, OutOfRangeValuesAreHeldAtTheEnds) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {{"2147483648", 2147483647},
                 {"99999999999999999999999", 2147483647},
                 {"-2147483649", -2147483647 - 1},
                 {"-99999999999999999999999", -2147483647 - 1}};
    for (const auto& c : cases) EXPECT_EQ(pincheck::slotFromText(c.text), c.value) << c.text;
}

TEST(Entry, RunningOutOfMemoryGivesOneFailureLine) {
    faketoken::Script script;
    script.slots = {7};
    script.presence = {{7, 1}};
    script.loginRunsOutOfMemory = true;
    faketoken::reset(script);
    const char* argv[] = {"pincheck", "{\"CA_Function\":\"x\",\"sPin\":\"1234\",\"slotID\":\"0\"}"};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int status = pincheck::runPinCheck(2, argv);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "{\"func\":\"\",\"ret_code\":9988,\"message\":\"\"}\n");
    EXPECT_EQ(status, 1);
}

}  // namespace
