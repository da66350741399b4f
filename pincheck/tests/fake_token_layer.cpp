#include "fake_token_layer.h"

#include <cstring>
#include <new>

namespace faketoken {

namespace {
Script gScript;
Record gRecord;
std::size_t gLogoutCalls = 0;
int gBoundMarker = 0;
}  // namespace

void reset(const Script& script) {
    gScript = script;
    gRecord = Record();
    gLogoutCalls = 0;
}

const Record& record() {
    return gRecord;
}

int countOf(const std::string& name) {
    int n = 0;
    for (const std::string& call : gRecord.calls) n += call.substr(0, call.find(':')) == name;
    return n;
}

}  // namespace faketoken

using faketoken::gBoundMarker;
using faketoken::gLogoutCalls;
using faketoken::gRecord;
using faketoken::gScript;

extern "C" {

TokenResult InitLibrary(const char* moduleName, TokenContext* ctx) {
    gRecord.calls.push_back("InitLibrary");
    gRecord.moduleName = moduleName ? moduleName : "";
    std::memset(ctx, 0, sizeof *ctx);
    if (gScript.initResult == 0) ctx->library = &gBoundMarker;
    return gScript.initResult;
}

TokenResult CloseLibrary(TokenContext* ctx) {
    gRecord.calls.push_back("CloseLibrary");
    ctx->library = nullptr;
    ctx->session = nullptr;
    return 0;
}

TokenResult GetSlotID(TokenContext*, CK_SLOT_ID* slots, CK_ULONG* count) {
    gRecord.calls.push_back("GetSlotID");
    gRecord.slotCapacity = *count;
    if (gScript.slotListResult != 0) return gScript.slotListResult;
    // Behaves as the layer promises: never writes past the capacity it was given.
    if (gScript.slots.size() > *count) return 0xDA000150u;
    for (std::size_t i = 0; i < gScript.slots.size(); ++i) slots[i] = gScript.slots[i];
    *count = gScript.slots.size();
    return 0;
}

TokenResult IsTokenPresent(TokenContext*, CK_SLOT_ID slot) {
    gRecord.calls.push_back("IsTokenPresent:" + std::to_string(slot));
    for (const auto& entry : gScript.presence)
        if (entry.first == slot) return entry.second;
    return 0;
}

TokenResult LogoutToken(TokenContext*) {
    gRecord.calls.push_back("LogoutToken");
    const std::size_t n = gLogoutCalls++;
    return n < gScript.logoutResults.size() ? gScript.logoutResults[n] : 0;
}

}  // extern "C"

TokenResult token::loginForPinCheck(TokenContext*, CK_SLOT_ID slot, const char* pin,
                                    token::PinLoginReport* report) {
    gRecord.calls.push_back("LoginToken:" + std::to_string(slot));
    gRecord.pin = pin ? pin : "<null>";
    if (gScript.loginRunsOutOfMemory) throw std::bad_alloc();
    if (gScript.writeDeviceError) report->deviceError = gScript.deviceError;
    report->tokenFlagsRead = gScript.tokenFlagsRead;
    report->tokenFlags = gScript.tokenFlags;
    return gScript.loginResult;
}
