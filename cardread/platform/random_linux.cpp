#include <sys/random.h>

#include <cerrno>

#include "../random_source.h"

namespace cardread {

bool fillRandom(std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        const ssize_t got = getrandom(out, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace cardread
