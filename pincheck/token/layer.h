// Records and helpers shared by the exported functions of the token access layer. The bridge
// (bridge*.h) does not include this file: it knows nothing of TokenContext.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "token_api.h"

// The exports (module.cpp, queries.cpp, session.cpp, objects.cpp) are defined inside the layer's
// namespace; their C linkage keeps them the global C names that token_api.h declares. Each
// definition repeats TOKEN_API: inside a namespace it does not take over the export attribute of
// the header's declaration (MinGW then exports nothing).
namespace token {

// Result codes of the layer; module answers are reported as kBase | CKR.
constexpr TokenResult kBase = 0xDA000000u;
constexpr TokenResult kNoModule = kBase | CKR_CRYPTOKI_NOT_INITIALIZED;   // 0xDA000190
constexpr TokenResult kSessionHeld = kBase | CKR_USER_ALREADY_LOGGED_IN;  // 0xDA000100
constexpr TokenResult kNoSession = kBase | CKR_USER_NOT_LOGGED_IN;        // 0xDA000101
constexpr TokenResult kTextTooSmall = kBase | CKR_BUFFER_TOO_SMALL;       // 0xDA000150
constexpr TokenResult kIdTooSmall = CKR_BUFFER_TOO_SMALL;                 // 0x00000150, bare
constexpr TokenResult kNoMemory = 0xDA001001u;
constexpr TokenResult kNoSuchObject = 0xDA001002u;
constexpr TokenResult kIndexOutOfRange = 0xDA001003u;
constexpr TokenResult kNoCryptoObject = 0xDA001004u;

// Joins a module answer to the layer's base. A vendor CKR with bits in the top byte cannot be
// told apart after the join; it is reported as joined.
inline TokenResult ckr(CK_RV rv) {
    return rv == CKR_OK ? 0 : kBase | static_cast<TokenResult>(rv);
}

// Owned by the layer, hung on TokenContext::library by InitLibrary, freed by CloseLibrary.
struct LibraryBinding {
    void* module;  // platform loader handle
    CK_FUNCTION_LIST_PTR functions;
};

// Owned by the layer, hung on TokenContext::session by LoginToken, freed by LogoutToken.
struct SessionRecord {
    CK_SESSION_HANDLE handle;
    unsigned char opened;
    unsigned char loggedIn;
    CK_SLOT_ID slot;
};

inline LibraryBinding* boundLibrary(const TokenContext* ctx) {
    return static_cast<LibraryBinding*>(ctx->library);
}
inline SessionRecord* heldSession(const TokenContext* ctx) {
    return static_cast<SessionRecord*>(ctx->session);
}

// The module and the session the context holds. 0xDA000190 without a bound module (or without a
// context), 0xDA000101 without a session; 0 otherwise, with both outputs set.
TokenResult requireSession(const TokenContext* ctx, CK_FUNCTION_LIST_PTR* functions,
                           CK_SESSION_HANDLE* session);

// The layer's records, and every buffer it allocates, come from the crypto library's allocator
// under one source tag.
void* layerAlloc(std::size_t size);
void* layerRealloc(void* block, std::size_t size);
void layerFree(void* block);

// The owner of a block from layerAlloc.
struct LayerFree {
    void operator()(void* block) const { layerFree(block); }
};
template <typename T>
using LayerPtr = std::unique_ptr<T, LayerFree>;

}  // namespace token
