// Wiping of PIN copies: a volatile write the optimiser cannot drop.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace carddata {

inline void wipeBytes(void* p, std::size_t n) {
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n--) *v++ = 0;
}

inline void wipeString(std::string& s) {
    wipeBytes(&s[0], s.size());
    s.clear();
}

// A zero-filled buffer that is wiped before its memory is released.
class WipedBuffer {
public:
    explicit WipedBuffer(std::size_t n) : bytes_(n, 0) {}
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;
    ~WipedBuffer() { wipeBytes(bytes_.data(), bytes_.size()); }
    unsigned char* data() { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }

private:
    std::vector<unsigned char> bytes_;
};

}  // namespace carddata
