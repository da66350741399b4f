// PKCS#11 bridge for module binding, the library, slot and token queries, sessions and login.
// One function per module call: each takes the function list and the handles it needs and
// answers the bare CKR value; none knows of TokenContext or of the layer's result codes.
//
// Without a function list the query and login functions answer CKR_CRYPTOKI_NOT_INITIALIZED,
// the binding and release functions CKR_ARGUMENTS_BAD.
#pragma once

#include <p11-kit/pkcs11.h>

namespace token {

// Loads the module by its name as given (the platform's search order applies), resolves
// C_GetFunctionList, fetches the function list and initialises the module without mutex
// callbacks. CKR_CRYPTOKI_ALREADY_INITIALIZED counts as success. A module that cannot be loaded,
// has no C_GetFunctionList or fails it: CKR_FUNCTION_FAILED. On any failure the module is
// unloaded again and both outputs stay null.
CK_RV BindModule(const char* name, void** module, CK_FUNCTION_LIST_PTR* functions);

// Finalises the module and unloads it. A C_Finalize answer other than CKR_OK and
// CKR_CRYPTOKI_NOT_INITIALIZED is returned at once and the module stays loaded (outputs kept).
// Otherwise both are cleared and the C_Finalize answer is returned, or CKR_FUNCTION_FAILED when
// the unload fails.
CK_RV ReleaseModule(void** module, CK_FUNCTION_LIST_PTR* functions);

CK_RV GetInfo(CK_FUNCTION_LIST_PTR functions, CK_INFO* info);
// With a null list: the number of slots. Otherwise `count` holds the list's capacity on entry.
CK_RV GetSlotList(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID* list, CK_ULONG* count);
CK_RV GetSlotInfo(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_SLOT_INFO* info);
CK_RV GetTokenInfo(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_TOKEN_INFO* info);

// A read-only serial session without application pointer or callback.
CK_RV OpenSession(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_SESSION_HANDLE* session);
CK_RV CloseSession(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session);
CK_RV GetSessionInfo(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                     CK_SESSION_INFO* info);
// Logs the normal user in.
CK_RV Login(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session, unsigned char* pin,
            CK_ULONG pinLength);
CK_RV Logout(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session);

}  // namespace token
