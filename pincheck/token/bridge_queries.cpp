// Library, slot and token queries.
#include "bridge.h"

namespace token {

CK_RV GetInfo(CK_FUNCTION_LIST_PTR functions, CK_INFO* info) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return functions->C_GetInfo(info);
}

CK_RV GetSlotList(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID* list, CK_ULONG* count) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    // Every slot, with or without a token: finding the card is the caller's business.
    return functions->C_GetSlotList(CK_FALSE, list, count);
}

CK_RV GetSlotInfo(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_SLOT_INFO* info) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return functions->C_GetSlotInfo(slot, info);
}

CK_RV GetTokenInfo(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_TOKEN_INFO* info) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return functions->C_GetTokenInfo(slot, info);
}

}  // namespace token
