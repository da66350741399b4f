// Sessions and login.
#include "bridge.h"

namespace token {

CK_RV OpenSession(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_SESSION_HANDLE* session) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    // Checking a PIN and using keys needs no write access to the token.
    return functions->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, session);
}

CK_RV CloseSession(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return functions->C_CloseSession(session);
}

CK_RV GetSessionInfo(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                     CK_SESSION_INFO* info) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return functions->C_GetSessionInfo(session, info);
}

CK_RV Login(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session, unsigned char* pin,
            CK_ULONG pinLength) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return functions->C_Login(session, CKU_USER, pin, pinLength);
}

CK_RV Logout(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    return functions->C_Logout(session);
}

}  // namespace token
