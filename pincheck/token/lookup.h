// Shared by the key and certificate exports: the context checks every one of them makes first.
#pragma once

#include "layer.h"

namespace token {

// The module and the session the context holds. 0xDA000190 without a bound module (or without a
// context), 0xDA000101 without a session; 0 otherwise, with both outputs set.
TokenResult requireSession(const TokenContext* ctx, CK_FUNCTION_LIST_PTR* functions,
                           CK_SESSION_HANDLE* session);

}  // namespace token
