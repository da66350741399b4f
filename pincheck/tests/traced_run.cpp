// What a run with the trace on must show against the same run with it off, for the Linux and the
// Wine drivers alike.
#include <gtest/gtest.h>

#include <regex>

#include "run_pincheck.h"
#include "temp_dir.h"
#include "trace_check.h"

namespace pinchecktest {

namespace {

std::string firstMatch(const std::string& text, const std::regex& pattern) {
    std::smatch match;
    return std::regex_search(text, match, pattern) ? match[1].str() : "";
}

}  // namespace

void expectSameRunTraced(const std::vector<std::string>& args, const RunResult& plain,
                         const RunResult& traced, const std::string& path) {
    EXPECT_EQ(traced.out, plain.out);
    EXPECT_EQ(traced.err, plain.err);
    EXPECT_EQ(traced.status, plain.status);

    const std::vector<Json::Value> events = testsupport::readTrace(path);
    const Json::Value* start = testsupport::findEvent(events, "pincheck.start");
    const Json::Value* end = testsupport::findEvent(events, "pincheck.end");
    ASSERT_TRUE(start && end) << testsupport::readFile(path);
    const std::string code = firstMatch(plain.out + plain.err, std::regex("\"ret_code\":(\\d+)"));
    EXPECT_EQ((*end)["ret_code"].asString(), code);
    const Json::Value* load = testsupport::findEvent(events, "module.load");
    if (load && (*load)["loaded"].asBool()) {
        EXPECT_NE((*load)["path"].asString(), "");
    }
    if (code == "3657433094") {
        EXPECT_TRUE(load);
    }

    // Every text of the trace but the ones a module or the clock makes up (a random serial
    // number may hold any digits).
    std::string texts;
    for (const Json::Value& event : events)
        for (const std::string& member : event.getMemberNames())
            if (member != "time" && member != "serial_number" && event[member].isString())
                texts += member + "=" + event[member].asString() + "\n";
    if (!args.empty())
        testsupport::expectSecretAbsent(
            texts, firstMatch(args[0], std::regex("\"sPin\":\"([^\"]{3,})\"")), "the PIN");
}

}  // namespace pinchecktest
