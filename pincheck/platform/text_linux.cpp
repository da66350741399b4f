#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "text.h"

namespace pincheck {

namespace {

class Converter {
  public:
    Converter() {
        handle_ = iconv_open("UTF-8", "CP950");
        // Plain Big5 covers every message text, should a C library lack the code page name.
        if (handle_ == kInvalid) handle_ = iconv_open("UTF-8", "BIG5");
    }
    ~Converter() {
        if (handle_ != kInvalid) iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool usable() const { return handle_ != kInvalid; }
    iconv_t handle() const { return handle_; }

  private:
    static inline const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
    iconv_t handle_;
};

constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

}  // namespace

std::string toUtf8(const char* text) {
    if (text == nullptr) return std::string();
    std::size_t inLeft = std::strlen(text);
    // An accepted PIN leaves the empty message: opening the converter would load the Big5
    // conversion module for nothing on every successful check.
    if (inLeft == 0) return std::string();
    Converter converter;
    if (!converter.usable()) return std::string(text, inLeft);

    std::string out;
    char* in = const_cast<char*>(text);  // iconv's prototype is not const-correct
    // Converted a chunk at a time; a full chunk (E2BIG) just means another round.
    char chunk[256];
    while (inLeft > 0) {
        char* outPtr = chunk;
        std::size_t outLeft = sizeof chunk;
        const std::size_t rc = iconv(converter.handle(), &in, &inLeft, &outPtr, &outLeft);
        out.append(chunk, sizeof chunk - outLeft);
        if (rc != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // An undefined or cut-off sequence: mark it and go on after its first byte.
        out += kReplacement;
        ++in;
        --inLeft;
    }
    char* outPtr = chunk;
    std::size_t outLeft = sizeof chunk;
    iconv(converter.handle(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(chunk, sizeof chunk - outLeft);
    return out;
}

}  // namespace pincheck
