// Login and logout: one PKCS#11 session per context.
#include <cstring>

#include "bridge.h"
#include "common/secret.h"
#include "layer.h"
#include "pin_login.h"

namespace token {

namespace {

// The longest PIN the layer takes, and the buffer that holds it with its NUL while the module
// reads it.
constexpr std::size_t kMaxPinLength = 255;
constexpr std::size_t kPinBufferSize = kMaxPinLength + 1;

// The token's flags, or false when the module cannot report them.
bool readTokenFlags(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot, CK_FLAGS* flags) {
    CK_TOKEN_INFO info = {};
    if (GetTokenInfo(f, slot, &info) != CKR_OK) return false;
    *flags = info.flags;
    return true;
}

// LoginToken's steps; given a report, also the PIN check's PIN-pad entry and the token flags
// after a wrong PIN.
TokenResult openAndLogin(TokenContext* ctx, CK_SLOT_ID slot, const char* pin, CK_ULONG* deviceError,
                         PinLoginReport* report) {
    const LibraryBinding* binding = ctx ? boundLibrary(ctx) : nullptr;
    if (!binding) return kNoModule;
    if (heldSession(ctx)) return kSessionHeld;
    CK_FUNCTION_LIST_PTR f = binding->functions;

    // Reads at most one byte past the longest PIN, so an unterminated text is not run through.
    const std::size_t pinLength = pin ? strnlen(pin, kPinBufferSize) : 0;
    if (pinLength > kMaxPinLength) return kBase | CKR_PIN_LEN_RANGE;

    LayerPtr<SessionRecord> record(static_cast<SessionRecord*>(layerAlloc(sizeof(SessionRecord))));
    if (!record) return kNoMemory;
    record->handle = 0;
    record->opened = 0;
    record->loggedIn = 0;
    record->slot = slot;

    // A reader with its own keypad takes the PIN there: the service sends none for it. Only an
    // empty PIN asks, so a typed PIN makes exactly the calls it always made.
    bool keypadEntry = false;
    if (report && pin && pinLength == 0) {
        CK_FLAGS flags = 0;
        keypadEntry =
            readTokenFlags(f, slot, &flags) && (flags & CKF_PROTECTED_AUTHENTICATION_PATH) != 0;
    }

    CK_SESSION_HANDLE session = 0;
    if (const CK_RV rv = OpenSession(f, slot, &session)) return ckr(rv);
    record->handle = session;
    record->opened = 1;

    if (!pin) {
        ctx->session = record.release();
        return 0;
    }

    // The PIN's copy is wiped however the call ends.
    common::SecretArray<kPinBufferSize> buffer;
    std::memcpy(buffer.data(), pin, pinLength);
    buffer.bytes[pinLength] = '\0';
    const CK_RV loginRv =
        Login(f, session, keypadEntry ? nullptr : buffer.data(), static_cast<CK_ULONG>(pinLength));

    // The card's status word after the attempt (tries left after a wrong PIN) is only known to
    // the module's session information, so it is read on success and failure alike.
    CK_SESSION_INFO info = {};
    if (GetSessionInfo(f, session, &info) == CKR_OK && deviceError)
        *deviceError = info.ulDeviceError;

    if (loginRv != CKR_OK) {
        // A module that does not pass the card's status word on may still say in the token
        // flags that one try is left or that this attempt blocked the PIN.
        if (report && loginRv == CKR_PIN_INCORRECT && !isTriesLeftWord(report->deviceError))
            report->tokenFlagsRead = readTokenFlags(f, slot, &report->tokenFlags);
        // The context keeps no session after a failed login, so nothing could close this one
        // later: close it here.
        CloseSession(f, session);
        return ckr(loginRv);
    }
    record->loggedIn = 1;
    ctx->session = record.release();
    return 0;
}

}  // namespace

extern "C" TOKEN_API TokenResult LoginToken(TokenContext* ctx, CK_SLOT_ID slot, const char* pin,
                                            CK_ULONG* deviceError) {
    return openAndLogin(ctx, slot, pin, deviceError, nullptr);
}

TokenResult loginForPinCheck(TokenContext* ctx, CK_SLOT_ID slot, const char* pin,
                             PinLoginReport* report) {
    if (!report) return kBase | CKR_ARGUMENTS_BAD;
    return openAndLogin(ctx, slot, pin, &report->deviceError, report);
}

extern "C" TOKEN_API TokenResult LogoutToken(TokenContext* ctx) {
    const LibraryBinding* binding = ctx ? boundLibrary(ctx) : nullptr;
    if (!binding) return kNoModule;
    SessionRecord* record = heldSession(ctx);
    if (!record) return kNoSession;
    CK_FUNCTION_LIST_PTR f = binding->functions;

    // A failed step leaves the record as the flags describe it, so a second call resumes there.
    if (record->loggedIn) {
        if (const CK_RV rv = Logout(f, record->handle)) return ckr(rv);
        record->loggedIn = 0;
    }
    if (record->opened) {
        if (const CK_RV rv = CloseSession(f, record->handle)) return ckr(rv);
        record->opened = 0;
        record->handle = 0;
    }
    LayerPtr<SessionRecord> done(record);
    ctx->session = nullptr;
    return 0;
}

}  // namespace token
