#include "base64.h"

namespace carddata {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::size_t kLineLength = 60;

}  // namespace

std::string base64Encode(const std::uint8_t* data, std::size_t n) {
    const std::size_t characters = 4 * ((n + 2) / 3);
    std::string out;
    out.reserve(characters + 2 * (characters / kLineLength));

    std::size_t i = 0;
    std::size_t lineFill = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = (static_cast<std::uint32_t>(data[i]) << 16) |
                                (static_cast<std::uint32_t>(data[i + 1]) << 8) | data[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
        lineFill += 4;
        if (lineFill == kLineLength) {
            out += "\r\n";
            lineFill = 0;
        }
    }
    const std::size_t rest = n - i;
    if (rest > 0) {
        const std::uint32_t v = (static_cast<std::uint32_t>(data[i]) << 16) |
                                (rest == 2 ? static_cast<std::uint32_t>(data[i + 1]) << 8 : 0);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string withoutLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n') out += c;
    }
    return out;
}

}  // namespace carddata
