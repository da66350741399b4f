// Library, slot and token queries of a bound context.
#include "bridge.h"
#include "copy_text.h"
#include "layer.h"

namespace token {

namespace {

CK_FUNCTION_LIST_PTR functionsOf(const TokenContext* ctx) {
    const LibraryBinding* binding = ctx ? boundLibrary(ctx) : nullptr;
    return binding ? binding->functions : nullptr;
}

}  // namespace

extern "C" TOKEN_API TokenResult GetLibraryDesc(TokenContext* ctx, char* text, CK_ULONG* length) {
    CK_FUNCTION_LIST_PTR f = functionsOf(ctx);
    if (!f) return kNoModule;
    CK_INFO info = {};
    if (const CK_RV rv = GetInfo(f, &info)) return ckr(rv);
    return CopyPaddedText(info.libraryDescription, sizeof info.libraryDescription, text, length);
}

extern "C" TOKEN_API TokenResult GetSlotID(TokenContext* ctx, CK_SLOT_ID* slots, CK_ULONG* count) {
    CK_FUNCTION_LIST_PTR f = functionsOf(ctx);
    if (!f) return kNoModule;
    if (!count) return kBase | CKR_ARGUMENTS_BAD;
    CK_ULONG present = 0;
    if (const CK_RV rv = GetSlotList(f, nullptr, &present)) return ckr(rv);
    // A missing array holds nothing; asking the module to fill it would only count again.
    const CK_ULONG capacity = slots ? *count : 0;
    if (present > capacity) return kTextTooSmall;
    CK_ULONG filled = capacity;
    const CK_RV rv = GetSlotList(f, slots, &filled);
    if (rv != CKR_OK) return ckr(rv);
    // A module that claims more slots than the array holds cannot have written them all, and
    // the caller would read its count of entries past the end of the array.
    if (filled > capacity) return kTextTooSmall;
    *count = filled;
    return 0;
}

extern "C" TOKEN_API TokenResult GetSlotDesc(TokenContext* ctx, CK_SLOT_ID slot, char* text,
                                             CK_ULONG* length) {
    CK_FUNCTION_LIST_PTR f = functionsOf(ctx);
    if (!f) return kNoModule;
    CK_SLOT_INFO info = {};
    if (const CK_RV rv = GetSlotInfo(f, slot, &info)) return ckr(rv);
    return CopyPaddedText(info.slotDescription, sizeof info.slotDescription, text, length);
}

extern "C" TOKEN_API TokenResult IsTokenPresent(TokenContext* ctx, CK_SLOT_ID slot) {
    CK_FUNCTION_LIST_PTR f = functionsOf(ctx);
    if (!f) return kNoModule;
    CK_SLOT_INFO info = {};
    if (const CK_RV rv = GetSlotInfo(f, slot, &info)) return ckr(rv);
    return (info.flags & CKF_TOKEN_PRESENT) ? 1 : 0;
}

extern "C" TOKEN_API TokenResult GetTokenLabel(TokenContext* ctx, CK_SLOT_ID slot, char* text,
                                               CK_ULONG* length) {
    CK_FUNCTION_LIST_PTR f = functionsOf(ctx);
    if (!f) return kNoModule;
    CK_TOKEN_INFO info = {};
    if (const CK_RV rv = GetTokenInfo(f, slot, &info)) return ckr(rv);
    return CopyPaddedText(info.label, sizeof info.label, text, length);
}

extern "C" TOKEN_API TokenResult GetTokenSerialNumber(TokenContext* ctx, CK_SLOT_ID slot,
                                                      char* text, CK_ULONG* length) {
    CK_FUNCTION_LIST_PTR f = functionsOf(ctx);
    if (!f) return kNoModule;
    CK_TOKEN_INFO info = {};
    if (const CK_RV rv = GetTokenInfo(f, slot, &info)) return ckr(rv);
    return CopyPaddedText(info.serialNumber, sizeof info.serialNumber, text, length);
}

}  // namespace token
