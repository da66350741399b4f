// Converting between UTF-8 and code page 950 (or plain Big5) with iconv, an independent converter,
// so tests can compare the programs' typed byte strings with the characters they must show.
#pragma once

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace testsupport {

// Converts `text` from one iconv encoding to another; a marker text on failure, so a comparison
// shows what went wrong.
inline std::string convertText(const char* to, const char* from, const std::string& text) {
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1))
        return std::string("<iconv has no ") + from + ">";
    std::string in = text;
    std::string out(in.size() * 4 + 16, '\0');
    char* inPointer = &in[0];
    char* outPointer = &out[0];
    std::size_t inLeft = in.size();
    std::size_t outLeft = out.size();
    const std::size_t result = iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1))
        return std::string("<not convertible: ") + std::strerror(errno) + ">";
    out.resize(out.size() - outLeft);
    return out;
}

inline std::string cp950ToUtf8(const std::string& text) {
    return convertText("UTF-8", "CP950", text);
}
inline std::string utf8ToCp950(const std::string& text) {
    return convertText("CP950", "UTF-8", text);
}

}  // namespace testsupport
