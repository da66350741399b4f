// The one rule for every text the layer hands out from a module's fixed-width field.
#pragma once

#include <cstddef>

#include "token_api.h"

namespace token {

// Cuts the trailing blanks and NULs of the `width`-character field; n is what is left.
// - n == 0: returns 0 and writes neither buffer nor length.
// - *length (the buffer size) < n + 1: sets *length = n, returns 0xDA000150, buffer untouched.
// - otherwise copies the n characters and a NUL, sets *length = n, returns 0.
// A null buffer counts as a buffer of size 0; a null length answers 0xDA000007.
TokenResult CopyPaddedText(const unsigned char* field, std::size_t width, char* buffer,
                           CK_ULONG* length);

}  // namespace token
