#include <windows.h>

#include <vector>

#include "text.h"

namespace pincheck {
namespace {

// Every message of the session is Big5. Reading it in the process's ANSI code page (CP_ACP)
// garbles it on any system whose code page is not 950, the UTF-8 option of a Traditional Chinese
// Windows included.
constexpr UINT kBig5 = 950;

}  // namespace

// Two steps through UTF-16; each call first learns the size it needs. The input length -1 makes
// both calls carry the terminating NUL along, so the sizes include it.
std::string toUtf8(const char* text) {
    if (text == nullptr) return std::string();
    const int wideSize = MultiByteToWideChar(kBig5, 0, text, -1, nullptr, 0);
    if (wideSize <= 0) return std::string();
    std::vector<wchar_t> wide(static_cast<size_t>(wideSize));
    if (MultiByteToWideChar(kBig5, 0, text, -1, wide.data(), wideSize) != wideSize)
        return std::string();

    const int utf8Size =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (utf8Size <= 0) return std::string();
    std::vector<char> utf8(static_cast<size_t>(utf8Size));
    if (WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8.data(), utf8Size, nullptr, nullptr) !=
        utf8Size)
        return std::string();
    return std::string(utf8.data(), static_cast<size_t>(utf8Size) - 1);
}

}  // namespace pincheck
