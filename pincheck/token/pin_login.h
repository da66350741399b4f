// The PIN check session's login: LoginToken's steps, plus what the check needs to learn the
// tries left on a module that does not pass the card's status word on, and to let a reader with
// its own keypad take the PIN. Inside pincheck only; not one of the exported functions.
#pragma once

#include "token_api.h"

namespace token {

// The card's status word for a refused PIN verification, 0x63C0 to 0x63CF: its low digit
// counts the tries left.
constexpr bool isTriesLeftWord(CK_ULONG word) {
    return (word & ~static_cast<CK_ULONG>(0xF)) == 0x63C0;
}

struct PinLoginReport {
    // CK_SESSION_INFO.ulDeviceError after the attempt; stays as preset when the module cannot
    // report it.
    CK_ULONG deviceError = 0;
    // CK_TOKEN_INFO.flags, read only after a PIN refused with CKR_PIN_INCORRECT whose device
    // error word is no tries-left word, while the attempt's session was still open (a module may
    // forget the PIN's state with the session).
    bool tokenFlagsRead = false;
    CK_FLAGS tokenFlags = 0;
};

// As LoginToken (same results, same module calls for a PIN that is not empty), and:
//   - an empty PIN on a token with CKF_PROTECTED_AUTHENTICATION_PATH logs in with no PIN (null
//     and length 0), so the reader's keypad takes it; only an empty PIN makes the token query
//     that tells this;
//   - after CKR_PIN_INCORRECT without a tries-left word the token flags are read into *report
//     before the session is closed.
// *report must be given; a null PIN opens a session only, as with LoginToken.
TokenResult loginForPinCheck(TokenContext* ctx, CK_SLOT_ID slot, const char* pin,
                             PinLoginReport* report);

}  // namespace token
