// The card's keys, taken from the same key file the library is built with, so the simulated
// card and the library agree without either copying the other's values.
#pragma once

#include <string>

#include "bytes.h"

namespace cardsim {

struct CardKeys {
    Bytes keyB;     // encipherment and MAC key of the protected VERIFY
    Bytes authKey;  // EXTERNAL AUTHENTICATE, key reference 22
};

// Reads `name = HEX` lines. Key B is deciphered from `key_block_b` under the key-deciphering
// key with OpenSSL; where the file also lists `key_b` in clear the two must agree. Throws
// std::runtime_error with a readable reason on a missing file, name or bad value.
CardKeys loadCardKeys(const std::string& path);

// The key file this build's library was made from (set by CMake).
std::string defaultKeyFile();

}  // namespace cardsim
