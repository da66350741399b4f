// Library, slot and token queries.
#include "bridge.h"
#include "call_trace.h"

namespace token {

CK_RV GetInfo(CK_FUNCTION_LIST_PTR functions, CK_INFO* info) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    ModuleCall call("C_GetInfo");
    const CK_RV rv = call.finish(functions->C_GetInfo(info));
    if (call.event() && rv == CKR_OK && info) traceLibraryInfo(*call.event(), *info);
    return rv;
}

CK_RV GetSlotList(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID* list, CK_ULONG* count) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    ModuleCall call("C_GetSlotList");
    // Every slot, with or without a token: finding the card is the caller's business.
    const CK_RV rv = call.finish(functions->C_GetSlotList(CK_FALSE, list, count));
    if (call.event() && rv == CKR_OK && count) traceSlotList(*call.event(), list, *count);
    return rv;
}

CK_RV GetSlotInfo(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_SLOT_INFO* info) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    ModuleCall call("C_GetSlotInfo");
    const CK_RV rv = call.finish(functions->C_GetSlotInfo(slot, info));
    if (call.event()) {
        call.event()->unsignedNumber("slot", slot);
        if (rv == CKR_OK && info) traceSlotInfo(*call.event(), *info);
    }
    return rv;
}

CK_RV GetTokenInfo(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    ModuleCall call("C_GetTokenInfo");
    const CK_RV rv = call.finish(functions->C_GetTokenInfo(slot, info));
    if (call.event()) {
        call.event()->unsignedNumber("slot", slot);
        if (rv == CKR_OK && info) traceTokenInfo(*call.event(), *info);
    }
    return rv;
}

}  // namespace token
