#include "reply.h"

#include <json/json.h>

#include <memory>
#include <sstream>

#include "cardread/status.h"
#include "common/version.h"

namespace carddata {

std::int32_t mapReplyCode(std::int32_t code) {
    struct Row {
        std::int32_t from;
        std::int32_t to;
    };
    // The raw codes are statuses of the reader library's family that this library never
    // returns; the service knows them all the same.
    static const Row kMapping[] = {
        {cardread::kStatusMissingArgument, 0x7600000C},
        {0x7101, 0x77200009},
        {0x7301, 0x77200005},
        {0x7302, 0x77200006},
        {cardread::kStatusBadSlot, 0x77200007},
        {cardread::kStatusBufferTooSmall, 0x77200002},
        {0x7411, 0x77200010},
        {cardread::kStatusRecordNotFound, 0x77200011},
        {0x7413, 0x77200008},
        {0x7414, 0x77200003},
        {0x7415, 0x77200004},
        {cardread::kPcscRemovedCard, 0x76000006},  // no card recognised
    };
    for (const Row& row : kMapping) {
        if (code == row.from) return row.to;
    }
    return code;
}

std::string replyLine(std::int32_t code, const std::string& msg) {
    Json::Value reply(Json::objectValue);
    reply["msg"] = msg;
    reply["ret_code"] = Json::Value(static_cast<Json::Int>(mapReplyCode(code)));
    reply["version"] = common::kVersionText;

    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::ostringstream out;
    std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    writer->write(reply, &out);
    out << '\n';
    return out.str();
}

}  // namespace carddata
