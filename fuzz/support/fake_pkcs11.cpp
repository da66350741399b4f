#include "fake_pkcs11.h"

#include <cstring>

namespace fuzzsupport {
namespace {

ByteSource* g_source = nullptr;
bool g_initialized = false;
int g_openSearches = 0;

ByteSource& src() {
    static ByteSource empty;
    return g_source ? *g_source : empty;
}

// Most answers succeed so that runs get deep; the rest are the codes the layer maps or must
// survive, vendor codes with the top bit set included.
CK_RV answer() {
    // clang-format off
    static const CK_RV kFailures[] = {
        CKR_GENERAL_ERROR, CKR_FUNCTION_FAILED, CKR_BUFFER_TOO_SMALL, CKR_PIN_INCORRECT,
        CKR_PIN_LEN_RANGE, CKR_PIN_LOCKED, CKR_CRYPTOKI_ALREADY_INITIALIZED,
        CKR_CRYPTOKI_NOT_INITIALIZED, CKR_SLOT_ID_INVALID, CKR_TOKEN_NOT_PRESENT,
        CKR_SESSION_HANDLE_INVALID, CKR_USER_NOT_LOGGED_IN, CKR_ATTRIBUTE_SENSITIVE,
        CKR_ATTRIBUTE_TYPE_INVALID, CKR_DEVICE_ERROR, CKR_USER_ALREADY_LOGGED_IN,
        CKR_OPERATION_ACTIVE, 0x80000001UL, 0xFFFFFFFFUL, CKR_ARGUMENTS_BAD, CKR_DEVICE_REMOVED};
    // clang-format on
    const std::uint8_t b = src().byte();
    if (b < 0xC0) return CKR_OK;
    const std::size_t i = b - 0xC0u;
    if (i < sizeof kFailures / sizeof kFailures[0]) return kFailures[i];
    return src().u32();  // anything at all
}

// A count or length as a lying module reports it: mostly small, sometimes at the edges.
CK_ULONG reportedCount(CK_ULONG honest) {
    const std::uint8_t b = src().byte();
    if (b < 0xE0) return b;
    if (b > 0xE3) return src().u16();
    const CK_ULONG edges[] = {honest, honest + 1, CK_UNAVAILABLE_INFORMATION, 0x7FFFFFFFUL};
    return edges[b - 0xE0];
}

// C_GetInfo, C_GetSlotInfo, C_GetTokenInfo and C_GetSessionInfo: the record as the input has it.
template <typename Info>
CK_RV fillInfo(Info* info) {
    if (!info) return CKR_ARGUMENTS_BAD;
    src().bytes(info, sizeof *info);
    return answer();
}

// "Initialised" as the layer counts it: it takes "already initialised" for a bound module and
// "not initialised" from C_Finalize for a released one.
CK_RV initialize(CK_VOID_PTR) {
    const CK_RV rv = answer();
    if (rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED) g_initialized = true;
    return rv;
}

CK_RV finalize(CK_VOID_PTR reserved) {
    if (reserved) return CKR_ARGUMENTS_BAD;
    const CK_RV rv = answer();
    if (rv == CKR_OK || rv == CKR_CRYPTOKI_NOT_INITIALIZED) g_initialized = false;
    return rv;
}

// Slot IDs or object handles, a byte of the input each, into room for `capacity`; the count as
// a lying module reports it.
CK_RV handleList(CK_ULONG* list, CK_ULONG capacity, CK_ULONG_PTR count) {
    if (!count) return CKR_ARGUMENTS_BAD;
    const CK_ULONG n = reportedCount(capacity);
    for (CK_ULONG i = 0; list && i < n && i < capacity; ++i) list[i] = src().byte();
    *count = n;
    return answer();
}

CK_RV getSlotList(CK_BBOOL, CK_SLOT_ID_PTR list, CK_ULONG_PTR count) {
    return handleList(list, count ? *count : 0, count);
}

CK_RV openSession(CK_SLOT_ID, CK_FLAGS, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR session) {
    if (!session) return CKR_ARGUMENTS_BAD;
    *session = src().byte();
    return answer();
}

// C_CloseSession and C_Logout.
CK_RV sessionCall(CK_SESSION_HANDLE) {
    return answer();
}

CK_RV login(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    touch(pin, length);
    return answer();
}

CK_RV findObjectsInit(CK_SESSION_HANDLE, CK_ATTRIBUTE_PTR templ, CK_ULONG count) {
    for (CK_ULONG i = 0; templ && i < count; ++i) touch(templ[i].pValue, templ[i].ulValueLen);
    const CK_RV rv = answer();
    if (rv == CKR_OK) ++g_openSearches;
    return rv;
}

CK_RV findObjects(CK_SESSION_HANDLE, CK_OBJECT_HANDLE_PTR handles, CK_ULONG max,
                  CK_ULONG_PTR count) {
    return handleList(handles, max, count);
}

CK_RV findObjectsFinal(CK_SESSION_HANDLE) {
    // The caller has done its part by asking, whatever the module answers.
    if (g_openSearches > 0) --g_openSearches;
    return answer();
}

CK_RV getAttributeValue(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ATTRIBUTE_PTR templ,
                        CK_ULONG count) {
    if (!templ) return CKR_ARGUMENTS_BAD;
    for (CK_ULONG i = 0; i < count; ++i) {
        CK_ATTRIBUTE& a = templ[i];
        const CK_ULONG room = a.ulValueLen;
        // Lengths above 0xDF come as a two-byte word (up to 65535), which covers every field.
        const CK_ULONG length = reportedCount(room);
        if (a.pValue && length != CK_UNAVAILABLE_INFORMATION) {
            const CK_ULONG written = length < room ? length : room;
            src().bytes(a.pValue, written);
        }
        a.ulValueLen = length;
    }
    return answer();
}

CK_RV mechanismInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR mechanism, CK_OBJECT_HANDLE) {
    if (mechanism) touch(mechanism->pParameter, mechanism->ulParameterLen);
    return answer();
}

CK_RV produce(CK_SESSION_HANDLE, CK_BYTE_PTR data, CK_ULONG dataLength, CK_BYTE_PTR out,
              CK_ULONG_PTR outLength) {
    touch(data, dataLength);
    if (!outLength) return CKR_ARGUMENTS_BAD;
    const CK_ULONG room = *outLength;
    const CK_ULONG length = reportedCount(room);
    if (out) src().bytes(out, length < room ? length : room);
    *outLength = length;
    return answer();
}

CK_FUNCTION_LIST makeList() {
    CK_FUNCTION_LIST f = {};
    f.version = {2, 20};
    f.C_Initialize = initialize;
    f.C_Finalize = finalize;
    f.C_GetInfo = fillInfo<CK_INFO>;
    f.C_GetFunctionList = fakeGetFunctionList;
    f.C_GetSlotList = getSlotList;
    f.C_GetSlotInfo = [](CK_SLOT_ID, CK_SLOT_INFO_PTR info) { return fillInfo(info); };
    f.C_GetTokenInfo = [](CK_SLOT_ID, CK_TOKEN_INFO_PTR info) { return fillInfo(info); };
    f.C_OpenSession = openSession;
    f.C_CloseSession = sessionCall;
    f.C_GetSessionInfo = [](CK_SESSION_HANDLE, CK_SESSION_INFO_PTR info) { return fillInfo(info); };
    f.C_Login = login;
    f.C_Logout = sessionCall;
    f.C_GetAttributeValue = getAttributeValue;
    f.C_FindObjectsInit = findObjectsInit;
    f.C_FindObjects = findObjects;
    f.C_FindObjectsFinal = findObjectsFinal;
    f.C_SignInit = mechanismInit;
    f.C_Sign = produce;
    f.C_DecryptInit = mechanismInit;
    f.C_Decrypt = produce;
    return f;
}

}  // namespace

void fakeModuleReset(ByteSource* source) {
    g_source = source;
    g_initialized = false;
    g_openSearches = 0;
}

bool fakeModuleInitialized() {
    return g_initialized;
}

int fakeModuleOpenSearches() {
    return g_openSearches;
}

CK_RV fakeGetFunctionList(CK_FUNCTION_LIST_PTR_PTR list) {
    static CK_FUNCTION_LIST functions = makeList();
    if (!list) return CKR_ARGUMENTS_BAD;
    const CK_RV rv = answer();
    // A module that fails may still hand out a list, or none while claiming success.
    const std::uint8_t shape = src().byte();
    *list = shape == 0xFF ? nullptr : &functions;
    return rv;
}

}  // namespace fuzzsupport
