// The token layer's context of the PIN check session, with the module binding it holds.
#pragma once

#include "token/token_api.h"

namespace pincheck {

// Binds the module into its context and gives it back once. The session gives the binding back
// after the check and after a refused login; after a failed slot step or a twice refused logout
// it stays bound until the process ends, so going out of scope gives back nothing.
class TokenBinding {
  public:
    TokenBinding() = default;
    TokenBinding(const TokenBinding&) = delete;
    TokenBinding& operator=(const TokenBinding&) = delete;

    // InitLibrary's code; 0 when the module is bound.
    TokenResult bind(const char* moduleName) {
        const TokenResult rv = InitLibrary(moduleName, &context_);
        bound_ = rv == 0;
        return rv;
    }
    // CloseLibrary, once, if bound; its code does not matter to the session.
    void release() {
        if (!bound_) return;
        CloseLibrary(&context_);
        bound_ = false;
    }
    TokenContext* context() { return &context_; }

  private:
    TokenContext context_{};
    bool bound_ = false;
};

}  // namespace pincheck
