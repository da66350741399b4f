#include "pin_check_session.h"

#include <algorithm>

#include "common/secret.h"
#include "messages.h"
#include "token/pin_login.h"

#ifndef PINCHECK_MODULE_NAME
#error "PINCHECK_MODULE_NAME must name the card's PKCS#11 module file"
#endif

namespace pincheck {

namespace {

// The card's module, by plain file name: the platform's library search order finds it.
constexpr char kModuleName[] = PINCHECK_MODULE_NAME;

constexpr TokenResult kPinIncorrect = 0xDA000000u | CKR_PIN_INCORRECT;
constexpr TokenResult kPinLengthRange = 0xDA000000u | CKR_PIN_LEN_RANGE;

// The card's status word for a refused PIN verification is 0x63Cn, n the tries left. Only the
// first two wrong entries of a three-try card get a message of their own; 0x63C0 (blocked now)
// and any other word get the plain "PIN wrong".
constexpr CK_ULONG kTwoTriesLeft = 0x63C2;
constexpr CK_ULONG kOneTryLeft = 0x63C1;

// The message for a wrong PIN. The card's status word decides when the module passes it on;
// otherwise the token flags read right after the refusal do: one try left is the card's 0x63C1,
// and a PIN this attempt blocked gets the text of a login to a blocked card. A flag that only
// says an earlier entry was wrong tells no count and changes nothing.
const char* wrongPinMessage(const token::PinLoginReport& report) {
    if (report.deviceError == kTwoTriesLeft) return messages::kFirstWrongEntry;
    if (report.deviceError == kOneTryLeft) return messages::kSecondWrongEntry;
    if (!token::isTriesLeftWord(report.deviceError) && report.tokenFlagsRead) {
        if (report.tokenFlags & CKF_USER_PIN_LOCKED)
            return messages::kTable[messages::kLoginFailed];
        if (report.tokenFlags & CKF_USER_PIN_FINAL_TRY) return messages::kSecondWrongEntry;
    }
    return messages::kTable[messages::kPinWrong];
}

}  // namespace

TamrinCA::TamrinCA() = default;

std::string TamrinCA::checkPin(const std::string& pin) {
    resultCode_ = 0;
    loginWithPin(pin);
    if (lastError_ == 0) closeToken(true);
    if (lastError_ != 0)
        resultCode_ = lastError_;
    else
        message_.clear();
    // A refused login leaves the module bound; so does a refused logout, which is tried once
    // more here without touching the reply's code or message.
    if (opened_) closeToken(false);
    return message_;
}

void TamrinCA::loginWithPin(const std::string& pin) {
    // Sized to the PIN, however long: the module, not this program, decides which lengths it
    // accepts, and a cut PIN could be checked as a different one.
    std::string pinBuffer(pin);
    common::WipeOnExit wipePin(pinBuffer);

    if (!opened_) {
        openToken();
        if (lastError_ != 0) return;
    }

    // The device error word stays 0 when the layer cannot read the session information; 0
    // matches no retry word.
    token::PinLoginReport report;
    lastError_ = token::loginForPinCheck(token_.context(), chosenSlot_, pinBuffer.c_str(), &report);

    if (lastError_ == kPinIncorrect) {
        message_ = wrongPinMessage(report);
    } else if (lastError_ == kPinLengthRange) {
        message_ = messages::kPinTooShort;
    } else if (lastError_ != 0) {
        message_ = messages::kTable[messages::kLoginFailed];
    } else {
        loggedOut_ = false;
    }
}

void TamrinCA::openToken() {
    if (opened_) return;

    // Each step's message is set before the step, so a failure leaves the right one.
    message_ = messages::kTable[messages::kInitLibraryFailed];
    lastError_ = token_.bind(kModuleName);
    if (lastError_ != 0) return;

    // From here on a failed step leaves the module bound (opened_ stays false, so closeToken
    // does nothing); it is given back when the process ends.
    message_ = messages::kTable[messages::kReaderFailed];
    CK_SLOT_ID slots[kSlotCapacity] = {};
    CK_ULONG count = kSlotCapacity;
    lastError_ = GetSlotID(token_.context(), slots, &count);
    if (lastError_ != 0) return;
    // Only the entries the module wrote are read, never past the array.
    const CK_ULONG listed = std::min(count, kSlotCapacity);
    if (listed == 0) {
        lastError_ = kSessionFinding;
        return;
    }

    CK_ULONG position = 0;
    if (requestedSlot_ == kScanAllSlots) {
        // An error code from the presence query counts as a card: the login then reports what
        // is wrong with the slot.
        while (position < listed && IsTokenPresent(token_.context(), slots[position]) == 0)
            ++position;
        if (position == listed) {
            message_ = messages::kTable[messages::kCardNotInserted];
            lastError_ = kSessionFinding;
            return;
        }
    } else if (requestedSlot_ < 0 || static_cast<CK_ULONG>(requestedSlot_) >= listed) {
        // A position outside the list names no reader at all.
        lastError_ = kSessionFinding;
        return;
    } else {
        position = static_cast<CK_ULONG>(requestedSlot_);
        if (IsTokenPresent(token_.context(), slots[position]) == 0) {
            message_ = messages::kTable[messages::kCardNotInserted];
            lastError_ = kSessionFinding;
            return;
        }
    }

    chosenSlot_ = slots[position];
    opened_ = true;
}

void TamrinCA::closeToken(bool setLogoutMessage) {
    if (!opened_) return;
    if (!loggedOut_) {
        if (setLogoutMessage) message_ = messages::kTable[messages::kLogoutError];
        lastError_ = LogoutToken(token_.context());
        // Still logged in: the module stays bound so that a later logout can be tried.
        if (lastError_ != 0) return;
        loggedOut_ = true;
    }
    token_.release();
    opened_ = false;
}

}  // namespace pincheck
