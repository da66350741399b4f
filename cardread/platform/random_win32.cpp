#include <windows.h>
// After windows.h, whose types it uses.
#include <bcrypt.h>

#include "../random_source.h"

namespace cardread {

bool fillRandom(std::uint8_t* out, std::size_t n) {
    // The system-preferred generator needs no algorithm handle.
    while (n > 0) {
        const ULONG chunk = n > 0x10000000u ? 0x10000000u : static_cast<ULONG>(n);
        if (BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) {
            return false;
        }
        out += chunk;
        n -= chunk;
    }
    return true;
}

}  // namespace cardread
