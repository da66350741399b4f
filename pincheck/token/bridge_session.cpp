// Sessions and login.
#include "bridge.h"
#include "call_trace.h"

namespace token {

CK_RV OpenSession(CK_FUNCTION_LIST_PTR functions, CK_SLOT_ID slot, CK_SESSION_HANDLE* session) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    // Checking a PIN and using keys needs no write access to the token.
    ModuleCall call("C_OpenSession");
    const CK_RV rv =
        call.finish(functions->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, session));
    if (call.event()) call.event()->unsignedNumber("slot", slot);
    return rv;
}

CK_RV CloseSession(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    ModuleCall call("C_CloseSession");
    return call.finish(functions->C_CloseSession(session));
}

CK_RV GetSessionInfo(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session,
                     CK_SESSION_INFO* info) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    ModuleCall call("C_GetSessionInfo");
    const CK_RV rv = call.finish(functions->C_GetSessionInfo(session, info));
    // After a refused login the card's status word (0x63Cn: n tries left) is here.
    if (call.event() && rv == CKR_OK && info)
        call.event()
            ->text("device_error", hexWord(info->ulDeviceError))
            .unsignedNumber("session_state", info->state);
    return rv;
}

CK_RV Login(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session, unsigned char* pin,
            CK_ULONG pinLength) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    ModuleCall call("C_Login");
    // Only whether a PIN was passed and its length; never the PIN.
    const CK_RV rv = call.finish(functions->C_Login(session, CKU_USER, pin, pinLength));
    if (call.event())
        call.event()->flag("keypad", pin == nullptr).unsignedNumber("pin_length", pinLength);
    return rv;
}

CK_RV Logout(CK_FUNCTION_LIST_PTR functions, CK_SESSION_HANDLE session) {
    if (!functions) return CKR_CRYPTOKI_NOT_INITIALIZED;
    ModuleCall call("C_Logout");
    return call.finish(functions->C_Logout(session));
}

}  // namespace token
