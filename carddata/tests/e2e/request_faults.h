// carddata's reply lines, and the request faults it answers by itself before any library call:
// one table for the unit test (a stand-in library) and for the built program.
#pragma once

#include <string>
#include <vector>

namespace carddatatest {

constexpr long long kInputParameterError = 1979711500;
constexpr long long kJsonFormatError = 1979711499;
constexpr long long kUserPinIsNull = 1979713944;
constexpr long long kSnoIsNull = 1998585857;

// The compact reply line: msg, ret_code (signed decimal), version, one "\n".
inline std::string replyLine(const std::string& msg, long long code) {
    return "{\"msg\":\"" + msg + "\",\"ret_code\":" + std::to_string(code) +
           ",\"version\":\"1.0.4\"}\n";
}

inline std::string request(const std::string& pin, const std::string& sno,
                           const std::string& readerMember = "") {
    return "{\"UserPIN\":\"" + pin + "\",\"SNO\":\"" + sno + "\"" + readerMember + "}";
}

struct RequestFault {
    const char* name;
    std::vector<std::string> args;
    std::string msg;
    long long code;
};

inline std::vector<RequestFault> requestFaults() {
    using Args = std::vector<std::string>;
    const std::string pin50(50, '7'), sno100(100, 'S');
    // Five times the reader's nesting limit (1000), which it signals by throwing instead of by an
    // error; short enough for a Windows command line (32 767 characters).
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    return {
        {"no argument", Args{}, "Input Parameter Error", kInputParameterError},
        {"two arguments", Args{request("1234", "ABCD"), "x"}, "Input Parameter Error",
         kInputParameterError},
        {"not JSON", Args{"UserPIN=1234"}, "JSON Format Error", kJsonFormatError},
        {"cut-off JSON", Args{"{\"UserPIN\":\"1234\""}, "JSON Format Error", kJsonFormatError},
        {"nested too deep", Args{deep}, "JSON Format Error", kJsonFormatError},
        {"good request with a member nested too deep",
         Args{request("1234", "ABCD", ",\"Extra\":" + deep)}, "JSON Format Error",
         kJsonFormatError},
        {"empty object", Args{"{}"}, " UserPIN Is Null", kUserPinIsNull},
        {"JSON null document", Args{"null"}, " UserPIN Is Null", kUserPinIsNull},
        {"PIN as a number", Args{"{\"UserPIN\":1234,\"SNO\":\"ABCD\"}"}, " UserPIN Is Null",
         kUserPinIsNull},
        {"PIN null", Args{"{\"UserPIN\":null,\"SNO\":\"ABCD\"}"}, " UserPIN Is Null",
         kUserPinIsNull},
        {"PIN missing", Args{"{\"SNO\":\"ABCD\"}"}, " UserPIN Is Null", kUserPinIsNull},
        {"both missing", Args{"{\"ReaderSlot\":\"x\"}"}, " UserPIN Is Null", kUserPinIsNull},
        {"SNO missing", Args{"{\"UserPIN\":\"1234\"}"}, " SNO Is Null", kSnoIsNull},
        {"SNO as a number", Args{"{\"UserPIN\":\"1234\",\"SNO\":12}"}, " SNO Is Null", kSnoIsNull},
        {"PIN of 50 bytes", Args{request(pin50, "ABCD")}, "Input Parameter Error",
         kInputParameterError},
        {"SNO of 100 bytes", Args{request("1234", sno100)}, "Input Parameter Error",
         kInputParameterError},
        {"PIN of 50 bytes and SNO of 100", Args{request(pin50, sno100)}, "Input Parameter Error",
         kInputParameterError},
    };
}

}  // namespace carddatatest
