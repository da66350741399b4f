// The support trace of the module calls: one line per PKCS#11 call with its name, its answer
// (CKR name and number) and how long the module took, plus what the call told that is no
// secret (slot list, descriptions, labels, serial numbers, flags). The time is also added to
// the process's total wait on the module. Off, a call costs one check.
#pragma once

#include <p11-kit/pkcs11.h>

#include <optional>
#include <string>

#include "common/trace.h"

namespace token {

// The CKR constant's name ("CKR_PIN_INCORRECT"), or "CKR_VENDOR_DEFINED" / "CKR_UNKNOWN".
const char* ckrName(CK_RV rv);

// A word as "0x63C2".
std::string hexWord(CK_ULONG value);

// One module call: constructed right before it, finish() given its answer right after.
class ModuleCall {
  public:
    explicit ModuleCall(const char* function) : function_(function), clock_() {}
    ModuleCall(const ModuleCall&) = delete;
    ModuleCall& operator=(const ModuleCall&) = delete;

    // Stops the clock and starts the call's line; returns the answer unchanged.
    CK_RV finish(CK_RV rv);
    // The call's line for more members; null while the trace is off. Written when the call
    // object ends.
    cardtrace::Event* event() { return event_ ? &*event_ : nullptr; }

  private:
    const char* function_;
    cardtrace::Stopwatch clock_;
    std::optional<cardtrace::Event> event_;
};

// The members of a module's answers, for the call lines.
void traceSlotList(cardtrace::Event& event, const CK_SLOT_ID* list, CK_ULONG count);
void traceSlotInfo(cardtrace::Event& event, const CK_SLOT_INFO& info);
void traceTokenInfo(cardtrace::Event& event, const CK_TOKEN_INFO& info);
void traceLibraryInfo(cardtrace::Event& event, const CK_INFO& info);

}  // namespace token
