// Texts that carry a PIN are wiped before their memory goes back to the allocator, so a PIN does
// not linger in freed heap blocks or in a core dump taken after the check.
#ifndef PINCHECK_SECRET_TEXT_H
#define PINCHECK_SECRET_TEXT_H

#include <cstddef>
#include <string>

namespace pincheck {

// Zeroes the whole allocation of the string (also the spare capacity, which may still hold an
// older, longer value) and leaves it empty. The volatile writes keep the compiler from dropping
// stores to memory that is about to be freed.
inline void wipeText(std::string& text) {
    text.resize(text.capacity());
    volatile char* bytes = &text[0];
    for (std::size_t i = 0; i < text.size(); ++i) bytes[i] = 0;
    text.clear();
}

inline void wipeBytes(void* data, std::size_t size) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = 0;
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

}  // namespace pincheck

#endif
