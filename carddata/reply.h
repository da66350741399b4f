// The reply line: the service's codes for library statuses and the compact JSON object.
#pragma once

#include <cstdint>
#include <string>

namespace carddata {

constexpr std::int32_t kInputParameterError = 0x7600000C;
constexpr std::int32_t kJsonFormatError = 0x7600000B;
constexpr std::int32_t kUserPinIsNull = 0x76000998;
constexpr std::int32_t kSnoIsNull = 0x77200001;
constexpr std::int32_t kNoData = 0x76600001;

// The service's reply code for a code handed to the reply step; others pass unchanged.
std::int32_t mapReplyCode(std::int32_t code);

// {"msg":…,"ret_code":…,"version":…} and one "\n"; the code is mapped first.
std::string replyLine(std::int32_t code, const std::string& msg);

}  // namespace carddata
