// The request checks: JSON with comments, "UserPIN", "SNO" and the optional "ReaderSlot".
#pragma once

#include <cstdint>
#include <string>

namespace carddata {

constexpr std::size_t kMaxPinBytes = 49;
constexpr std::size_t kMaxSnoBytes = 99;

struct RequestFields {
    bool ok = false;
    std::int32_t code = 0;   // the failure reply's code when !ok
    std::string message;     // the failure reply's text when !ok
    std::string readerName;  // empty: none
    std::string pin;         // bytes as decoded, may hold a NUL
    std::string sno;
    // For the support trace, filled only while it is on: each known member's length, or its
    // JSON type when it is no string; never a value.
    std::string memberSummary;
    ~RequestFields();
};

// Checks the request text (the program's one argument) in the order the replies rank.
void checkRequest(const std::string& text, RequestFields& fields);

}  // namespace carddata
