// The one line a run of pincheck prints: {"func":"...","ret_code":N,"message":"..."}.
#pragma once

#include <cstdint>
#include <string>

namespace pincheck {

// Decimal digits of the code, always unsigned (0xDA0000A0 is 3657433248).
std::string formatUnsigned(std::uint32_t code);

// The text as the content of a JSON string: backslash, double quote and the control bytes below
// 0x20 are escaped; every other byte, high bytes included, passes unchanged.
std::string escapeJsonText(const std::string& text);

// The reply line without its newline. The function name is the one the request carried, escaped
// so that the line stays one valid JSON object; the message is put in as given (the program's
// own texts need no escaping).
std::string buildReply(const std::string& functionName, std::uint32_t code,
                       const std::string& message);

// Writes the line and a newline to standard output (toStdout) or standard error, then flushes.
void writeReply(const std::string& line, bool toStdout);

}  // namespace pincheck
