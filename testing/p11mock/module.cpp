// Entry of the test module: C_GetFunctionList (its only exported symbol), the function list,
// initialisation and the library, slot and token queries.
#include <algorithm>
#include <cstring>
#include <vector>

#include "entries.h"
#include "mock_state.h"

namespace p11mock {
namespace {

CK_RV initialize(CK_VOID_PTR args) {
    ModuleState& s = state();
    if (!s.scriptLoaded || (!s.initialized && scriptChanged())) loadScript();
    Call call("C_Initialize");
    call.argPointer("args", args);
    if (call.injected()) return call.done(call.injected());
    if (s.initialized) return call.done(CKR_CRYPTOKI_ALREADY_INITIALIZED);
    if (!s.scriptError.empty()) return call.done(CKR_GENERAL_ERROR);
    if (args) {
        const auto* a = static_cast<const CK_C_INITIALIZE_ARGS*>(args);
        const bool anyMutex = a->CreateMutex || a->DestroyMutex || a->LockMutex || a->UnlockMutex;
        const bool allMutex = a->CreateMutex && a->DestroyMutex && a->LockMutex && a->UnlockMutex;
        if (a->pReserved || (anyMutex && !allMutex)) return call.done(CKR_ARGUMENTS_BAD);
    }
    s.initialized = true;
    return call.done(CKR_OK);
}

CK_RV finalize(CK_VOID_PTR reserved) {
    ModuleState& s = state();
    Call call("C_Finalize");
    call.argPointer("reserved", reserved);
    if (CK_RV rv = call.refusal()) return call.done(rv);
    if (reserved) return call.done(CKR_ARGUMENTS_BAD);
    for (const auto& entry : s.sessions) objectsSessionClosed(entry.first);
    s.sessions.clear();
    for (auto& slot : s.slots) slot.token.loggedIn = false;
    s.initialized = false;
    // The next C_GetFunctionList or C_Initialize reads the script afresh.
    s.scriptLoaded = false;
    return call.done(CKR_OK);
}

CK_RV getInfo(CK_INFO_PTR info) {
    ModuleState& s = state();
    Call call("C_GetInfo");
    if (CK_RV rv = call.refusal()) return call.done(rv);
    if (!info) return call.done(CKR_ARGUMENTS_BAD);
    std::memset(info, 0, sizeof *info);
    info->cryptokiVersion = {2, 40};
    fillText(info->manufacturerID, kLibraryTextWidth, kManufacturer, s.libraryNulPad);
    fillText(info->libraryDescription, kLibraryTextWidth, s.libraryDescription, s.libraryNulPad);
    info->libraryVersion = {1, 0};
    return call.done(CKR_OK);
}

CK_RV getSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    Call call("C_GetSlotList");
    call.arg("tokenPresent", tokenPresent).argPointer("list", list);
    if (count) call.arg("count", *count);
    if (CK_RV rv = call.refusal()) return call.done(rv);
    if (!count) return call.done(CKR_ARGUMENTS_BAD);
    std::vector<CK_SLOT_ID> ids;
    for (const auto& slot : state().slots)
        if (!tokenPresent || slot.tokenPresent) ids.push_back(slot.id);
    const bool fits = *count >= ids.size();
    if (list && fits) std::copy(ids.begin(), ids.end(), list);
    *count = static_cast<CK_ULONG>(ids.size());
    return call.done(list && !fits ? CKR_BUFFER_TOO_SMALL : CKR_OK);
}

// C_GetSlotInfo and C_GetTokenInfo check alike; `fill` then answers for the slot found.
template <typename Fill>
CK_RV slotQuery(const char* name, CK_SLOT_ID id, const void* out, Fill fill) {
    Call call(name);
    call.arg("slot", id);
    if (CK_RV rv = call.refusal()) return call.done(rv);
    if (!out) return call.done(CKR_ARGUMENTS_BAD);
    const SlotState* slot = findSlot(id);
    if (!slot) return call.done(CKR_SLOT_ID_INVALID);
    return call.done(fill(*slot));
}

CK_RV getSlotInfo(CK_SLOT_ID id, CK_SLOT_INFO_PTR info) {
    return slotQuery("C_GetSlotInfo", id, info, [&](const SlotState& slot) {
        std::memset(info, 0, sizeof *info);
        fillText(info->slotDescription, kSlotTextWidth, slot.description, slot.nulPad);
        fillText(info->manufacturerID, kTokenTextWidth, kManufacturer, slot.nulPad);
        info->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
        if (slot.tokenPresent) info->flags |= CKF_TOKEN_PRESENT;
        info->hardwareVersion = info->firmwareVersion = {1, 0};
        return CK_RV(CKR_OK);
    });
}

CK_RV getTokenInfo(CK_SLOT_ID id, CK_TOKEN_INFO_PTR info) {
    return slotQuery("C_GetTokenInfo", id, info, [&](const SlotState& slot) {
        if (!slot.tokenPresent) return CK_RV(CKR_TOKEN_NOT_PRESENT);
        const TokenState& t = slot.token;
        std::memset(info, 0, sizeof *info);
        fillText(info->label, kTokenTextWidth, t.label, slot.nulPad);
        fillText(info->manufacturerID, kTokenTextWidth, kManufacturer, slot.nulPad);
        fillText(info->model, kSerialWidth, "p11mock", slot.nulPad);
        fillText(info->serialNumber, kSerialWidth, t.serial, slot.nulPad);
        info->flags = CKF_TOKEN_INITIALIZED | CKF_USER_PIN_INITIALIZED | CKF_LOGIN_REQUIRED |
                      state().pinFlags;
        if (t.pinPad) info->flags |= CKF_PROTECTED_AUTHENTICATION_PATH;
        info->ulMaxSessionCount = info->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
        info->ulSessionCount = info->ulRwSessionCount = CK_UNAVAILABLE_INFORMATION;
        info->ulMaxPinLen = t.pinMax;
        info->ulMinPinLen = t.pinMin;
        info->ulTotalPublicMemory = info->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
        info->ulTotalPrivateMemory = info->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
        info->hardwareVersion = info->firmwareVersion = {1, 0};
        return CK_RV(CKR_OK);
    });
}

// The entries the module does not implement. They answer CKR_FUNCTION_NOT_SUPPORTED and are
// logged, so a test sees an unexpected call instead of a crash through a null entry.
// clang-format off
#define P11MOCK_UNSUPPORTED_ENTRIES(X) \
    X(C_GetMechanismList) X(C_GetMechanismInfo) X(C_InitToken) X(C_InitPIN) X(C_SetPIN) \
    X(C_GetOperationState) X(C_SetOperationState) X(C_CreateObject) X(C_CopyObject) \
    X(C_DestroyObject) X(C_GetObjectSize) X(C_SetAttributeValue) X(C_EncryptInit) X(C_Encrypt) \
    X(C_EncryptUpdate) X(C_EncryptFinal) X(C_DecryptUpdate) X(C_DecryptFinal) X(C_DigestInit) \
    X(C_Digest) X(C_DigestUpdate) X(C_DigestKey) X(C_DigestFinal) X(C_SignUpdate) X(C_SignFinal) \
    X(C_SignRecoverInit) X(C_SignRecover) X(C_VerifyInit) X(C_Verify) X(C_VerifyUpdate) \
    X(C_VerifyFinal) X(C_VerifyRecoverInit) X(C_VerifyRecover) X(C_DigestEncryptUpdate) \
    X(C_DecryptDigestUpdate) X(C_SignEncryptUpdate) X(C_DecryptVerifyUpdate) X(C_GenerateKey) \
    X(C_GenerateKeyPair) X(C_WrapKey) X(C_UnwrapKey) X(C_DeriveKey) X(C_SeedRandom) \
    X(C_GenerateRandom) X(C_GetFunctionStatus) X(C_CancelFunction) X(C_WaitForSlotEvent)
// clang-format on

CK_FUNCTION_LIST makeFunctionList() {
    CK_FUNCTION_LIST list;
    std::memset(&list, 0, sizeof list);
    list.version = {2, 40};
#define P11MOCK_UNSUPPORTED(name)                                                    \
    list.name = [](auto...) -> CK_RV {                                               \
        return guarded([] { return Call(#name).done(CKR_FUNCTION_NOT_SUPPORTED); }); \
    };
    P11MOCK_UNSUPPORTED_ENTRIES(P11MOCK_UNSUPPORTED)
#undef P11MOCK_UNSUPPORTED
    list.C_Initialize = guard<initialize>;
    list.C_Finalize = guard<finalize>;
    list.C_GetInfo = guard<getInfo>;
    list.C_GetFunctionList = C_GetFunctionList;
    list.C_GetSlotList = guard<getSlotList>;
    list.C_GetSlotInfo = guard<getSlotInfo>;
    list.C_GetTokenInfo = guard<getTokenInfo>;
    sessionEntries(list);
    objectEntries(list);
    return list;
}

}  // namespace
}  // namespace p11mock

extern "C" P11MOCK_EXPORT CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    using namespace p11mock;
    return guarded([&] {
        if (!state().initialized || scriptChanged()) loadScript();
        Call call("C_GetFunctionList");
        if (call.injected()) return call.done(call.injected());
        if (!list) return call.done(CKR_ARGUMENTS_BAD);
        static CK_FUNCTION_LIST functions = makeFunctionList();
        *list = &functions;
        return call.done(CKR_OK);
    });
}
