#include "layer_blocks.h"

#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace fuzzsupport {
namespace {

constexpr const char kLayerTag[] = "QuindoraBasic";

std::unordered_set<void*>& blocks() {
    static auto* set = new std::unordered_set<void*>;  // outlives every static that frees
    return *set;
}

bool isLayer(const char* file) {
    return file && std::strcmp(file, kLayerTag) == 0;
}

void* trackedMalloc(std::size_t n, const char* file, int) {
    void* p = std::malloc(n ? n : 1);
    if (p && isLayer(file)) blocks().insert(p);
    return p;
}

void* trackedRealloc(void* old, std::size_t n, const char* file, int) {
    const bool tracked = old && blocks().erase(old) > 0;
    void* p = std::realloc(old, n ? n : 1);
    // A failed realloc leaves the old block as it was, tracked or not.
    if (p ? tracked || isLayer(file) : tracked) blocks().insert(p ? p : old);
    return p;
}

void trackedFree(void* p, const char*, int) {
    if (p) blocks().erase(p);
    std::free(p);
}

}  // namespace

bool trackLayerBlocks() {
    return CRYPTO_set_mem_functions(trackedMalloc, trackedRealloc, trackedFree) == 1;
}

std::size_t liveLayerBlocks() {
    return blocks().size();
}

void releaseLayerBlocks() {
    for (void* p : blocks()) std::free(p);
    blocks().clear();
}

}  // namespace fuzzsupport
