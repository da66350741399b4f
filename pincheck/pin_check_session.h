// The PIN check session: binds the card's PKCS#11 module, finds the slot holding the card, logs
// in with the PIN to check it, logs out and releases the module. It leaves a result code and a
// Big5 message for the reply; nothing on the card is read or changed beyond login and logout.
#pragma once

#include <cstdint>
#include <string>

#include "token/token_api.h"
#include "token_binding.h"

namespace pincheck {

// Result of the session's own findings (no slot, no card), next to the token layer's codes.
constexpr TokenResult kSessionFinding = 1;
// Capacity of the slot list; a module with more slots fails the listing.
constexpr CK_ULONG kSlotCapacity = 10;

class TamrinCA {
  public:
    // Scans all slots for the card unless a position in the slot list is asked for.
    static constexpr std::int32_t kScanAllSlots = -1;

    TamrinCA();
    // Releases nothing of the module: checkPin does that on every path that can (see
    // TokenBinding).
    ~TamrinCA() = default;
    TamrinCA(const TamrinCA&) = delete;
    TamrinCA& operator=(const TamrinCA&) = delete;

    void setRequestedSlot(std::int32_t position) { requestedSlot_ = position; }

    // Runs the whole check and returns the message (Big5; empty when the PIN was accepted).
    std::string checkPin(const std::string& pin);
    // The code for the reply, valid after checkPin: 0, a token layer code, or kSessionFinding.
    std::uint32_t resultCode() const { return resultCode_; }

  private:
    void openToken();
    void loginWithPin(const std::string& pin);
    void closeToken(bool setLogoutMessage);

    std::int32_t requestedSlot_ = kScanAllSlots;
    std::uint32_t resultCode_ = 0;
    bool opened_ = false;
    bool loggedOut_ = true;
    TokenBinding token_;
    CK_SLOT_ID chosenSlot_ = 0;
    TokenResult lastError_ = 0;
    std::string message_;
};

}  // namespace pincheck
