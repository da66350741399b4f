// Hexadecimal text of byte strings, as the programs' replies, the key files and the test tools
// write them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace common {

constexpr char kHexDigitsUpper[] = "0123456789ABCDEF";
constexpr char kHexDigitsLower[] = "0123456789abcdef";

// The value of a hex digit in either case, or -1.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two digits per byte, upper case unless `lower`, `separator` between pairs unless it is NUL.
inline std::string toHex(const std::uint8_t* bytes, std::size_t n, char separator = '\0',
                         bool lower = false) {
    const char* digits = lower ? kHexDigitsLower : kHexDigitsUpper;
    std::string text;
    text.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && separator != '\0') text.push_back(separator);
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

// Hex digits in either case; blanks and colons may stand between digit pairs. An odd digit
// count, a separator inside a pair or any other character gives nullopt.
inline std::optional<std::vector<std::uint8_t>> fromHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':') {
            if (high >= 0) return std::nullopt;
            continue;
        }
        const int v = hexDigitValue(c);
        if (v < 0) return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

}  // namespace common
