// carddata's own checks of its command line and request, before and around the library calls.
#include "carddata_run.h"

namespace carddatatest {
namespace {

class RequestChecks : public CarddataRun {};

TEST_F(RequestChecks, RepliesToEachRequestFault) {
    std::vector<RequestFault> cases = requestFaults();
    // Passes the program's checks; the library refuses an empty PIN with -1.
    cases.push_back({"empty PIN", {request("", "ABCD")}, "", kInputParameterError});
    for (const RequestFault& c : cases) {
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
