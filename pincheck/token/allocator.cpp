// The layer's records come from the crypto library's allocator, so a host that hooks OpenSSL's
// memory functions sees them too.
#include <openssl/crypto.h>

#include "layer.h"

namespace token {

namespace {
constexpr const char* kSourceTag = "QuindoraBasic";
}

void* layerAlloc(std::size_t size) {
    return CRYPTO_malloc(size, kSourceTag, __LINE__);
}

void* layerRealloc(void* block, std::size_t size) {
    return CRYPTO_realloc(block, size, kSourceTag, __LINE__);
}

void layerFree(void* block) {
    CRYPTO_free(block, kSourceTag, __LINE__);
}

}  // namespace token
