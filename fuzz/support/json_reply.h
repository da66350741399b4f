// The reply of a program run as the service reads it: exactly one line holding one JSON object,
// read under strict rules.
#pragma once

#include <json/json.h>

#include <memory>
#include <string>

#include "oracle.h"

namespace fuzzsupport {

inline Json::Value replyObject(const std::string& line) {
    require(!line.empty() && line.back() == '\n' && line.find('\n') == line.size() - 1,
            "not exactly one line", line);
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value reply;
    std::string errors;
    require(reader->parse(line.data(), line.data() + line.size() - 1, &reply, &errors),
            "reply is not JSON", line + errors);
    require(reply.isObject() && reply.size() == 3, "reply is not a three-member object", line);
    return reply;
}

}  // namespace fuzzsupport
