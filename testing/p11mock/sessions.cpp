// Sessions and login of the test module. Login state belongs to the token, as PKCS#11 has it:
// it ends with C_Logout or when the token's last session closes.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "entries.h"
#include "mock_state.h"

namespace p11mock {

namespace {

void endSession(CK_SESSION_HANDLE handle) {
    ModuleState& s = state();
    auto it = s.sessions.find(handle);
    if (it == s.sessions.end()) return;
    const CK_SLOT_ID slot = it->second.slot;
    objectsSessionClosed(handle);
    s.sessions.erase(it);
    const auto ofSlot = [slot](const auto& entry) { return entry.second.slot == slot; };
    if (std::none_of(s.sessions.begin(), s.sessions.end(), ofSlot))
        if (SlotState* st = findSlot(slot)) st->token.loggedIn = false;
}

CK_RV openSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
                  CK_SESSION_HANDLE_PTR session) {
    ModuleState& s = state();
    Call call("C_OpenSession");
    call.arg("slot", slot).arg("flags", flags).argPointer("application", application);
    call.argPointer("notify", reinterpret_cast<const void*>(notify));
    if (CK_RV rv = call.refusal()) return call.done(rv);
    if (!session) return call.done(CKR_ARGUMENTS_BAD);
    const SlotState* st = findSlot(slot);
    if (!st) return call.done(CKR_SLOT_ID_INVALID);
    if (!st->tokenPresent) return call.done(CKR_TOKEN_NOT_PRESENT);
    if (!(flags & CKF_SERIAL_SESSION)) return call.done(CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    const CK_SESSION_HANDLE handle = s.nextSession++;
    s.sessions[handle] = SessionState{slot, flags};
    *session = handle;
    call.arg("handle", handle);
    return call.done(CKR_OK);
}

CK_RV closeSession(CK_SESSION_HANDLE session) {
    Call call("C_CloseSession");
    call.arg("session", session);
    if (CK_RV rv = call.refusal(session)) return call.done(rv);
    endSession(session);
    return call.done(CKR_OK);
}

CK_RV closeAllSessions(CK_SLOT_ID slot) {
    Call call("C_CloseAllSessions");
    call.arg("slot", slot);
    if (CK_RV rv = call.refusal()) return call.done(rv);
    if (!findSlot(slot)) return call.done(CKR_SLOT_ID_INVALID);
    std::vector<CK_SESSION_HANDLE> ofSlot;
    for (const auto& entry : state().sessions)
        if (entry.second.slot == slot) ofSlot.push_back(entry.first);
    for (CK_SESSION_HANDLE h : ofSlot) endSession(h);
    return call.done(CKR_OK);
}

CK_RV getSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info) {
    ModuleState& s = state();
    Call call("C_GetSessionInfo");
    call.arg("session", session);
    if (CK_RV rv = call.refusal()) return call.done(rv);
    if (!info) return call.done(CKR_ARGUMENTS_BAD);
    auto it = s.sessions.find(session);
    if (it == s.sessions.end()) return call.done(CKR_SESSION_HANDLE_INVALID);
    const SlotState* st = findSlot(it->second.slot);
    const bool rw = (it->second.flags & CKF_RW_SESSION) != 0;
    const bool user = st && st->token.loggedIn;
    std::memset(info, 0, sizeof *info);
    info->slotID = it->second.slot;
    info->state = rw ? (user ? CKS_RW_USER_FUNCTIONS : CKS_RW_PUBLIC_SESSION)
                     : (user ? CKS_RO_USER_FUNCTIONS : CKS_RO_PUBLIC_SESSION);
    info->flags = it->second.flags;
    info->ulDeviceError = s.deviceError;
    call.arg("deviceError", s.deviceError);
    return call.done(CKR_OK);
}

// A scripted sequence after the nth attempt: its nth value, the last one repeating.
void step(const std::vector<CK_ULONG>& sequence, CK_ULONG n, CK_ULONG& value) {
    if (!sequence.empty()) value = sequence[std::min<std::size_t>(n, sequence.size()) - 1];
}

// Compared in place, without a copy of the given PIN.
bool pinMatches(const TokenState& token, const CK_UTF8CHAR* pin, CK_ULONG length) {
    if (token.pinHex.empty())
        return length == token.pin.size() &&
               (length == 0 || std::memcmp(pin, token.pin.data(), length) == 0);
    if (length * 2 != token.pinHex.size()) return false;
    for (CK_ULONG i = 0; i < length; ++i)
        if (std::stoul(token.pinHex.substr(2 * i, 2), nullptr, 16) != pin[i]) return false;
    return true;
}

CK_RV login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length) {
    ModuleState& s = state();
    Call call("C_Login");
    call.arg("session", session).arg("user", user).arg("length", length);
    call.arg("pin", pin, pin ? length : 0);
    if (s.loginDelayMs != 0) std::this_thread::sleep_for(std::chrono::milliseconds(s.loginDelayMs));
    // Every attempt moves the card's status word on, as a card answers each VERIFY.
    ++s.loginAttempts;
    step(s.deviceErrors, s.loginAttempts, s.deviceError);
    step(s.pinFlagSteps, s.loginAttempts, s.pinFlags);
    if (CK_RV rv = call.refusal(session)) return call.done(rv);
    SlotState* st = sessionSlot(session);
    if (user != CKU_USER && user != CKU_SO) return call.done(CKR_USER_TYPE_INVALID);
    if (!pin && length) return call.done(CKR_ARGUMENTS_BAD);
    if (st->token.loggedIn) return call.done(CKR_USER_ALREADY_LOGGED_IN);
    // A null PIN on a reader with a keypad: the right PIN typed there.
    if (pin || !st->token.pinPad) {
        if (length < st->token.pinMin || length > st->token.pinMax)
            return call.done(CKR_PIN_LEN_RANGE);
        if (!pinMatches(st->token, pin, length)) return call.done(CKR_PIN_INCORRECT);
    }
    st->token.loggedIn = true;
    return call.done(CKR_OK);
}

CK_RV logout(CK_SESSION_HANDLE session) {
    Call call("C_Logout");
    call.arg("session", session);
    if (CK_RV rv = call.refusal(session)) return call.done(rv);
    SlotState* st = sessionSlot(session);
    if (!st->token.loggedIn) return call.done(CKR_USER_NOT_LOGGED_IN);
    st->token.loggedIn = false;
    return call.done(CKR_OK);
}

}  // namespace

void sessionEntries(CK_FUNCTION_LIST& list) {
    list.C_OpenSession = guard<openSession>;
    list.C_CloseSession = guard<closeSession>;
    list.C_CloseAllSessions = guard<closeAllSessions>;
    list.C_GetSessionInfo = guard<getSessionInfo>;
    list.C_Login = guard<login>;
    list.C_Logout = guard<logout>;
}

}  // namespace p11mock
