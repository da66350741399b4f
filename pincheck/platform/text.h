// Conversion of the program's Big5 texts for the reply, which the service reads as UTF-8.
#pragma once

#include <string>

namespace pincheck {

// Converts a NUL-terminated Big5 text (code page 950, the encoding of all the program's messages)
// to UTF-8, whatever the system's ANSI code page is. A byte sequence Big5 does not define becomes
// U+FFFD.
std::string toUtf8(const char* text);

}  // namespace pincheck
