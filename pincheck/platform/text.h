// Conversion of the program's Big5 texts for the reply, which the service reads as UTF-8.
#ifndef PINCHECK_PLATFORM_TEXT_H
#define PINCHECK_PLATFORM_TEXT_H

#include <string>

namespace pincheck {

// Converts a NUL-terminated text of the system's ANSI code page to UTF-8. Where the system has
// no ANSI code page the text is read as code page 950 (Big5), the encoding of all the program's
// messages. A byte sequence the code page does not define becomes U+FFFD.
std::string toUtf8(const char* text);

}  // namespace pincheck

#endif
