#include "reply.h"

#include <cstdio>

#include "common/hex.h"

namespace pincheck {

std::string formatUnsigned(std::uint32_t code) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%lu", static_cast<unsigned long>(code));
    return digits;
}

std::string escapeJsonText(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        switch (byte) {
            case '"':
                escaped += "\\\"";
                break;
            case '\\':
                escaped += "\\\\";
                break;
            case '\b':
                escaped += "\\b";
                break;
            case '\f':
                escaped += "\\f";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\r':
                escaped += "\\r";
                break;
            case '\t':
                escaped += "\\t";
                break;
            default:
                if (byte < 0x20) {
                    escaped += "\\u00";
                    escaped += common::kHexDigitsLower[byte >> 4];
                    escaped += common::kHexDigitsLower[byte & 0x0F];
                } else {
                    escaped += c;
                }
        }
    }
    return escaped;
}

std::string buildReply(const std::string& functionName, std::uint32_t code,
                       const std::string& message) {
    std::string line = "{\"func\":\"";
    line += escapeJsonText(functionName);
    line += "\",\"ret_code\":";
    line += formatUnsigned(code);
    line += ",\"message\":\"";
    line += message;
    line += "\"}";
    return line;
}

void writeReply(const std::string& line, bool toStdout) {
    std::FILE* stream = toStdout ? stdout : stderr;
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace pincheck
