// PINs and keys live in buffers and texts that are wiped before their memory goes back, so a
// secret does not linger in freed heap blocks, on the stack or in a core dump. One rule for all:
// the whole allocation is zeroed (for texts and vectors also the spare capacity, which may
// still hold an older, longer value), with volatile writes the compiler cannot drop as stores
// to memory about to be freed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace common {

inline void wipeBytes(void* data, std::size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
}

// Zeroes the string's whole allocation and leaves it empty.
inline void wipeText(std::string& text) {
    text.resize(text.capacity());
    wipeBytes(&text[0], text.size());
    text.clear();
}

// Wipes the text it watches when the scope ends, on every path out of it.
class WipeOnExit {
  public:
    explicit WipeOnExit(std::string& text) : text_(text) {}
    ~WipeOnExit() { wipeText(text_); }
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;

  private:
    std::string& text_;
};

// A fixed-size byte buffer, zero-filled, wiped when it goes out of scope.
template <std::size_t N>
struct SecretArray {
    std::array<std::uint8_t, N> bytes{};
    SecretArray() = default;
    SecretArray(const SecretArray&) = delete;
    SecretArray& operator=(const SecretArray&) = delete;
    ~SecretArray() { wipeBytes(bytes.data(), N); }
    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
    static constexpr std::size_t size() { return N; }
};

// A growable byte buffer, zero-filled, wiped over its whole capacity before its memory goes
// back.
class SecretBytes {
  public:
    SecretBytes() = default;
    explicit SecretBytes(std::size_t n) : bytes_(n, 0) {}
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    SecretBytes(SecretBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {}
    SecretBytes& operator=(SecretBytes&& other) noexcept {
        if (this != &other) {
            clear();
            bytes_ = std::move(other.bytes_);
        }
        return *this;
    }
    ~SecretBytes() { clear(); }

    // Wipes and empties the buffer.
    void clear() {
        bytes_.resize(bytes_.capacity());
        wipeBytes(bytes_.data(), bytes_.size());
        bytes_.clear();
    }
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    std::uint8_t& operator[](std::size_t i) { return bytes_[i]; }
    const std::uint8_t& operator[](std::size_t i) const { return bytes_[i]; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// Zeroes a stretch of the stack below the caller's frame. What earlier calls left there is
// otherwise kept until something deeper overwrites it, and it can hold pieces of the request:
// the dynamic linker saves every vector register on the stack when it binds a function at its
// first call, and the string functions leave 32-byte pieces of whatever text they last scanned
// in those registers. Out of line, so its frame lies below the caller's.
[[gnu::noinline]] inline void wipeStackBelow() {
    volatile unsigned char area[64 * 1024];
    for (std::size_t i = 0; i < sizeof area; ++i) area[i] = 0;
}

}  // namespace common
