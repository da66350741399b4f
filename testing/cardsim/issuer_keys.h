// The card's keys, taken from the same key file the library is built with, so the simulated
// card and the library agree without either copying the other's values.
#pragma once

#include <map>
#include <string>

#include "bytes.h"

namespace cardsim {

struct CardKeys {
    Bytes keyB;     // encipherment and MAC key of the protected VERIFY
    Bytes authKey;  // EXTERNAL AUTHENTICATE, key reference 22
};

// The `name = HEX` lines of a key file (format: cardread/keys/README.md); blank lines and
// lines starting with # are skipped. Throws std::runtime_error on a missing file or a bad line.
// The one reader of the format in C++: the simulator and the tests both use it.
std::map<std::string, Bytes> readKeyFile(const std::string& path);

// Reads the key file. Key B is deciphered from `key_block_b` under the key-deciphering
// key with OpenSSL; where the file also lists `key_b` in clear the two must agree. Throws
// std::runtime_error with a readable reason on a missing file, name or bad value.
CardKeys loadCardKeys(const std::string& path);

// The key file this build's library was made from (set by CMake).
std::string defaultKeyFile();

}  // namespace cardsim
