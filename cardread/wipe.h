// Wiping of PINs and keys: a volatile write the optimiser cannot drop.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace cardread {

inline void wipe(void* p, std::size_t n) {
    volatile std::uint8_t* v = static_cast<volatile std::uint8_t*>(p);
    while (n--) *v++ = 0;
}

// A fixed-size byte buffer that wipes itself when it goes out of scope.
template <std::size_t N>
struct WipedBytes {
    std::array<std::uint8_t, N> bytes{};
    WipedBytes() = default;
    WipedBytes(const WipedBytes&) = delete;
    WipedBytes& operator=(const WipedBytes&) = delete;
    ~WipedBytes() { wipe(bytes.data(), N); }
    std::uint8_t* data() { return bytes.data(); }
    const std::uint8_t* data() const { return bytes.data(); }
    static constexpr std::size_t size() { return N; }
};

// A growable byte buffer for key and PIN material: wiped before its memory goes back.
class SecureBytes {
public:
    SecureBytes() = default;
    explicit SecureBytes(std::size_t n) : bytes_(n, 0) {}
    SecureBytes(const SecureBytes&) = delete;
    SecureBytes& operator=(const SecureBytes&) = delete;
    SecureBytes(SecureBytes&& other) noexcept : bytes_(std::move(other.bytes_)) {}
    SecureBytes& operator=(SecureBytes&& other) noexcept {
        if (this != &other) {
            clear();
            bytes_ = std::move(other.bytes_);
        }
        return *this;
    }
    ~SecureBytes() { clear(); }

    void clear() {
        wipe(bytes_.data(), bytes_.size());
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

}  // namespace cardread
