// What module.cpp takes from the module's other files: their function list entries and the
// object part's share of the script, and the guard that keeps every entry from letting an
// exception out to the caller.
#pragma once

#include <p11-kit/pkcs11.h>

#include <new>
#include <string>

#include "mock_state.h"

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

// The entries of sessions.cpp (sessions and login) and objects.cpp (search, attributes, sign and
// decrypt) in the function list.
void sessionEntries(CK_FUNCTION_LIST& list);
void objectEntries(CK_FUNCTION_LIST& list);

// Script lines whose command is "key" or "cert". Returns an empty text when the line is taken,
// otherwise why it is refused (the script then fails to load).
std::string objectsScriptLine(const ScriptLine& line);
// Forget every object and search; called before a script is read and at C_Finalize.
void objectsReset();
// A session ends (C_CloseSession, C_CloseAllSessions, C_Finalize): drop its search and operations.
void objectsSessionClosed(CK_SESSION_HANDLE session);

}  // namespace p11mock
