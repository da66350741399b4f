// Binding a module to a context and releasing it.
#include "bridge.h"
#include "layer.h"

namespace token {

extern "C" TOKEN_API TokenResult InitLibrary(const char* moduleName, TokenContext* ctx) {
    if (!ctx) return kBase | CKR_ARGUMENTS_BAD;
    // The context is not examined: whatever it held before is forgotten, not released.
    ctx->library = nullptr;
    ctx->session = nullptr;
    ctx->reserved = 0;

    LayerPtr<LibraryBinding> binding(
        static_cast<LibraryBinding*>(layerAlloc(sizeof(LibraryBinding))));
    if (!binding) return kNoMemory;
    binding->module = nullptr;
    binding->functions = nullptr;

    const CK_RV rv = BindModule(moduleName, &binding->module, &binding->functions);
    if (rv != CKR_OK) return ckr(rv);
    ctx->library = binding.release();
    return 0;
}

extern "C" TOKEN_API TokenResult CloseLibrary(TokenContext* ctx) {
    if (!ctx || !boundLibrary(ctx)) return 0;
    LayerPtr<LibraryBinding> binding(boundLibrary(ctx));
    // A caller that did not log out loses its session with the module (C_Finalize ends every
    // session); the record itself is only memory and would otherwise be lost.
    LayerPtr<void> session(ctx->session);
    ctx->library = nullptr;
    ctx->session = nullptr;
    return ckr(ReleaseModule(&binding->module, &binding->functions));
}

}  // namespace token
