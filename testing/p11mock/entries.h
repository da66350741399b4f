// Function list entries of the test module that live outside module.cpp, and the guard that
// keeps every entry from letting an exception out to the caller.
#pragma once

#include <p11-kit/pkcs11.h>

#include <new>

namespace p11mock {

// A module entry never throws into its C caller; the only exception the module can meet is
// running out of memory.
template <typename F>
CK_RV guarded(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return CKR_HOST_MEMORY;
    } catch (...) {
        return CKR_GENERAL_ERROR;
    }
}

// `guard<entry>` is the entry as the function list holds it: run under guarded(), so the entries
// themselves are written as if nothing could throw.
template <auto Entry>
struct Guard;
template <typename... Args, CK_RV (*Entry)(Args...)>
struct Guard<Entry> {
    static CK_RV call(Args... args) noexcept {
        return guarded([&] { return Entry(args...); });
    }
};
template <auto Entry>
constexpr auto guard = &Guard<Entry>::call;

CK_RV openSession(CK_SLOT_ID slot, CK_FLAGS flags, CK_VOID_PTR application, CK_NOTIFY notify,
                  CK_SESSION_HANDLE_PTR session);
CK_RV closeSession(CK_SESSION_HANDLE session);
CK_RV closeAllSessions(CK_SLOT_ID slot);
CK_RV getSessionInfo(CK_SESSION_HANDLE session, CK_SESSION_INFO_PTR info);
CK_RV login(CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG length);
CK_RV logout(CK_SESSION_HANDLE session);

}  // namespace p11mock
