// Keeps count of the token layer's own records (the blocks it takes from the crypto library's
// allocator under its source tag), so a fuzzer can tell a record the program keeps on purpose
// until the process ends from one it lost.
#pragma once

#include <cstddef>

namespace fuzzsupport {

// Routes the crypto library's allocator through the counter. Call before the first OpenSSL
// call of the process; false if the library refused (then nothing is counted).
bool trackLayerBlocks();

std::size_t liveLayerBlocks();

// Frees the layer records still alive: what the process would give back at its end.
void releaseLayerBlocks();

}  // namespace fuzzsupport
