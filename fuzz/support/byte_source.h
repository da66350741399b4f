// The fuzzer's bytes, read front to back by the stand-ins that play a card, a PC/SC service or a
// PKCS#11 module. Reading past the end gives zeros, so every stand-in has a defined answer for
// any input, and an input of N bytes can drive at most N answers that take a byte each: loops
// that ask "more?" always end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace fuzzsupport {

class ByteSource {
  public:
    ByteSource() = default;
    ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return empty() ? 0 : size_ - pos_; }

    std::uint8_t byte() { return empty() ? 0 : data_[pos_++]; }

    std::uint16_t u16() {
        const std::uint16_t high = byte();
        return static_cast<std::uint16_t>((high << 8) | byte());
    }

    std::uint32_t u32() {
        const std::uint32_t high = u16();
        return (high << 16) | u16();
    }

    // Copies up to `n` bytes; the rest of `out` is zero-filled. Returns how many were real.
    std::size_t bytes(void* out, std::size_t n) {
        const std::size_t got = n < remaining() ? n : remaining();
        if (got) std::memcpy(out, data_ + pos_, got);
        if (got < n) std::memset(static_cast<std::uint8_t*>(out) + got, 0, n - got);
        pos_ += got;
        return got;
    }

    // Bytes up to (not including) the next `stop` byte, which is consumed; all the rest if none.
    std::string until(std::uint8_t stop) {
        std::string text;
        while (!empty()) {
            const std::uint8_t b = data_[pos_++];
            if (b == stop) break;
            text.push_back(static_cast<char>(b));
        }
        return text;
    }

  private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
};

// Reads every byte a caller says it handed over, so that a caller's short buffer shows up.
inline void touch(const void* p, std::size_t n) {
    if (!p) return;
    volatile std::uint8_t sink = 0;
    const auto* bytes = static_cast<const std::uint8_t*>(p);
    for (std::size_t i = 0; i < n; ++i) sink = sink ^ bytes[i];
    (void)sink;
}

}  // namespace fuzzsupport
