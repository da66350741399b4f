// A stand-in for the token access layer, for the session's unit tests: each test scripts the
// answers of the six calls the session makes and reads back the calls it received, in order.
// The session logs in through token::loginForPinCheck, LoginToken's steps with the token flags
// after a wrong PIN; the record names that call LoginToken.
#pragma once

#include <string>
#include <vector>

#include "token/pin_login.h"
#include "token/token_api.h"

namespace faketoken {

struct Script {
    TokenResult initResult = 0;
    TokenResult slotListResult = 0;
    std::vector<CK_SLOT_ID> slots;
    // Answer of IsTokenPresent per slot ID; a slot not named here answers 0 (empty).
    std::vector<std::pair<CK_SLOT_ID, TokenResult>> presence;
    TokenResult loginResult = 0;
    bool writeDeviceError = true;
    bool loginRunsOutOfMemory = false;  // stands for an allocation failing during the check
    CK_ULONG deviceError = 0;
    // The token flags the login reports as read after its refusal (none: not read).
    bool tokenFlagsRead = false;
    CK_FLAGS tokenFlags = 0;
    // Answers of successive LogoutToken calls; 0 once the list is used up.
    std::vector<TokenResult> logoutResults;
};

struct Record {
    // The calls in order: name, or name:slot for IsTokenPresent and LoginToken.
    std::vector<std::string> calls;
    std::string pin;            // the text LoginToken received
    std::string moduleName;     // the name InitLibrary received
    CK_ULONG slotCapacity = 0;  // the count GetSlotID received
};

// Starts a test: the next calls answer from this script and the record is emptied.
void reset(const Script& script);
const Record& record();
int countOf(const std::string& name);  // whatever the slot

}  // namespace faketoken
