#include "reply.h"

#include <json/json.h>

#include <memory>
#include <sstream>

namespace carddata {

std::int32_t mapReplyCode(std::int32_t code) {
    struct Row {
        std::uint32_t from;
        std::int32_t to;
    };
    static const Row kMapping[] = {
        {0xFFFFFFFFu, 0x7600000C},  // -1: missing argument
        {0x7101, 0x77200009},
        {0x7301, 0x77200005},
        {0x7302, 0x77200006},
        {0x7303, 0x77200007},
        {0x7401, 0x77200002},
        {0x7411, 0x77200010},
        {0x7412, 0x77200011},
        {0x7413, 0x77200008},
        {0x7414, 0x77200003},
        {0x7415, 0x77200004},
        {0x80100069u, 0x76000006},  // card removed / not recognised
    };
    for (const Row& row : kMapping) {
        if (static_cast<std::uint32_t>(code) == row.from) return row.to;
    }
    return code;
}

std::string replyLine(std::int32_t code, const std::string& msg) {
    Json::Value reply(Json::objectValue);
    reply["msg"] = msg;
    reply["ret_code"] = Json::Value(static_cast<Json::Int>(mapReplyCode(code)));
    reply["version"] = "1.0.4";

    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::ostringstream out;
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    writer->write(reply, &out);
    out << '\n';
    return out.str();
}

}  // namespace carddata
