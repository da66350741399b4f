#include "copy_text.h"

#include <cstring>

#include "layer.h"

namespace token {

TokenResult CopyPaddedText(const unsigned char* field, std::size_t width, char* buffer,
                           CK_ULONG* length) {
    if (!length) return kBase | CKR_ARGUMENTS_BAD;
    std::size_t n = width;
    while (n > 0 && (field[n - 1] == ' ' || field[n - 1] == '\0')) --n;
    if (n == 0) return 0;
    const CK_ULONG size = buffer ? *length : 0;
    if (size < n + 1) {
        *length = n;
        return kTextTooSmall;
    }
    std::memcpy(buffer, field, n);
    buffer[n] = '\0';
    *length = n;
    return 0;
}

}  // namespace token
