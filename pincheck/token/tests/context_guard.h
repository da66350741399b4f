// A TokenContext that a failing test still logs out and releases, so the module is finalised and
// unloaded before the next test.
#pragma once

#include "token_api.h"

struct ContextGuard {
    TokenContext ctx{};
    ContextGuard() = default;
    ContextGuard(const ContextGuard&) = delete;
    ContextGuard& operator=(const ContextGuard&) = delete;
    ~ContextGuard() {
        if (ctx.session) LogoutToken(&ctx);
        if (ctx.library) CloseLibrary(&ctx);
    }
    TokenContext* operator&() { return &ctx; }
};
