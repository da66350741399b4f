#include "trace_check.h"

#include <gtest/gtest.h>
#include <json/reader.h>

#include <memory>
#include <sstream>

#include "temp_dir.h"

namespace testsupport {

std::vector<Json::Value> readTrace(const std::string& path) {
    std::vector<Json::Value> events;
    std::istringstream lines(readFile(path));
    Json::CharReaderBuilder builder;
    builder["strictRoot"] = true;
    builder["failIfExtra"] = true;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string line;
    while (std::getline(lines, line)) {
        Json::Value event;
        std::string error;
        const bool parsed = reader->parse(line.data(), line.data() + line.size(), &event, &error);
        EXPECT_TRUE(parsed && event.isObject()) << "trace line: " << line << "\n" << error;
        if (!parsed || !event.isObject()) continue;
        for (const char* member : {"time", "program", "version", "pid", "event"})
            EXPECT_TRUE(event.isMember(member)) << member << " missing in: " << line;
        events.push_back(event);
    }
    return events;
}

const Json::Value* findEvent(const std::vector<Json::Value>& events, const std::string& name) {
    for (const Json::Value& event : events)
        if (event["event"].asString() == name) return &event;
    return nullptr;
}

void expectSecretAbsent(const std::string& trace, const std::string& secret,
                        const std::string& what) {
    if (secret.empty()) return;
    std::string upper, lower;
    for (unsigned char c : secret) {
        static const char kUpper[] = "0123456789ABCDEF", kLower[] = "0123456789abcdef";
        upper += {kUpper[c >> 4], kUpper[c & 15]};
        lower += {kLower[c >> 4], kLower[c & 15]};
    }
    for (const std::string& form : {secret, upper, lower})
        EXPECT_EQ(trace.find(form), std::string::npos) << what << " found in the trace as " << form;
}

}  // namespace testsupport
