// carddata's own checks of its command line and request, before and around the library calls.
#include "carddata_run.h"

namespace carddatatest {
namespace {

const long long kInputParameterError = 1979711500;
const long long kJsonFormatError = 1979711499;
const long long kUserPinIsNull = 1979713944;
const long long kSnoIsNull = 1998585857;

class RequestChecks : public CarddataRun {};

using Args = std::vector<std::string>;

TEST_F(RequestChecks, RepliesToEachRequestFault) {
    const std::string pin49(49, '7'), pin50(50, '7'), sno100(100, 'S');
    // Five times the reader's nesting limit (1000), which it signals by throwing instead of by an
    // error; short enough for a Windows command line (32 767 characters).
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    const struct {
        const char* name;
        std::vector<std::string> args;
        std::string msg;
        long long code;
    } cases[] = {
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
        {"both missing", Args{"{\"ReaderSlot\":\"x\"}"}, " UserPIN Is Null", kUserPinIsNull},
        {"SNO missing", Args{"{\"UserPIN\":\"1234\"}"}, " SNO Is Null", kSnoIsNull},
        {"SNO as a number", Args{"{\"UserPIN\":\"1234\",\"SNO\":12}"}, " SNO Is Null", kSnoIsNull},
        {"PIN of 50 bytes", Args{request(pin50, "ABCD")}, "Input Parameter Error",
         kInputParameterError},
        {"SNO of 100 bytes", Args{request("1234", sno100)}, "Input Parameter Error",
         kInputParameterError},
        {"PIN of 50 bytes and SNO of 100", Args{request(pin50, sno100)}, "Input Parameter Error",
         kInputParameterError},
        // Passes the program's checks; the library refuses an empty PIN with -1.
        {"empty PIN", Args{request("", "ABCD")}, "", kInputParameterError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectReply(run(c.args), c.msg, c.code);
    }
}

TEST_F(RequestChecks, NonObjectTopLevelGetsOneReplyLine) {
    // No reply of its own is defined for these; whichever is chosen, the run ends normally
    // with one reply line and never reaches a card.
    for (const char* text : {"[1,2]", "42", "\"text\"", "true"}) {
        SCOPED_TRACE(text);
        pcsctest::ProgramResult r = run({text});
        EXPECT_EQ(r.exitStatus, 0);
        EXPECT_EQ(r.err, "");
        const bool known = r.out == replyLine(" UserPIN Is Null", kUserPinIsNull) ||
                           r.out == replyLine("JSON Format Error", kJsonFormatError) ||
                           r.out == replyLine("Input Parameter Error", kInputParameterError);
        EXPECT_TRUE(known) << r.out;
    }
}

TEST_F(RequestChecks, LimitsAndOptionalMembersReachTheCard) {
    CardProfile profile = patternCard(CardKind::Main, {{"ABCD", 0x01}});
    profile.pin = Bytes(10, '7');  // the card sees the first ten bytes of a 49-byte PIN
    pcsctest::CardInReader card(pcscd(), profile, 1);
    const std::string ok = base64(dataSelectedBy(profile, 0x01));
    const std::string pin49(49, '7');
    const std::string sno99 = "ABCD" + std::string(95, 'x');
    const struct {
        const char* name;
        std::string request;
    } cases[] = {
        {"49-byte PIN", request(pin49, "ABCD")},
        {"99-byte SNO, key is its first four characters", request(pin49, sno99)},
        {"comments are allowed",
         "/* read */ {\"UserPIN\": \"" + pin49 + "\", // holder PIN\n \"SNO\": \"ABCD\"}"},
        {"named reader", request(pin49, "ABCD", ",\"ReaderSlot\":\"" + reader(1) + "\"")},
        // No usable name: the first reader holding a card (the second one here).
        {"empty reader name", request(pin49, "ABCD", ",\"ReaderSlot\":\"\"")},
        {"reader name as a number", request(pin49, "ABCD", ",\"ReaderSlot\":3")},
        {"reader name null", request(pin49, "ABCD", ",\"ReaderSlot\":null")},
        {"other members ignored", request(pin49, "ABCD", ",\"Extra\":[1,{}]")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        expectReply(run({c.request}), ok, 0);
    }
}

}  // namespace
}  // namespace carddatatest
