// A fixed text buffer of MAX_PATH bytes. Paths and message texts are composed here; anything that
// would not fit, NUL included, is refused as a whole so a text is never silently cut.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform.h"

namespace servicectl {

class TextBuffer {
  public:
    TextBuffer() { bytes_[0] = '\0'; }

    // Appends `text`; false (and the buffer unchanged) when it would not fit.
    bool append(const char* text) { return append(text, std::strlen(text)); }

    bool append(const char* text, std::size_t length) {
        if (length >= kPathBufferSize - length_) return false;
        std::memcpy(bytes_ + length_, text, length);
        length_ += length;
        bytes_[length_] = '\0';
        return true;
    }

    bool append(const std::string& text) { return append(text.data(), text.size()); }

    const char* c_str() const { return bytes_; }
    std::size_t size() const { return length_; }

  private:
    char bytes_[kPathBufferSize];
    std::size_t length_ = 0;
};

}  // namespace servicectl
