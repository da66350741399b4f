#include "record_index.h"

#include <cstring>

namespace cardread {

Status findRecord(const std::uint8_t* index, std::size_t length, const char* recordKey,
                  RecordSelection& selection) {
    std::size_t keyLength = 0;
    while (keyLength < kRecordKeyLength && recordKey[keyLength] != '\0') ++keyLength;
    // An empty key would match at the first position and pick whatever mask lies there.
    if (keyLength == 0 || length <= kIndexSearchStart) return kStatusRecordNotFound;

    // The index is searched as text: it ends at the first NUL or at the last byte read.
    const std::uint8_t* text = index + kIndexSearchStart;
    const std::uint8_t* nul =
        static_cast<const std::uint8_t*>(std::memchr(text, 0, length - kIndexSearchStart));
    const std::size_t textLength =
        nul ? static_cast<std::size_t>(nul - text) : length - kIndexSearchStart;

    for (std::size_t at = 0; at + keyLength <= textLength; ++at) {
        if (std::memcmp(text + at, recordKey, keyLength) != 0) continue;
        const std::size_t maskAt = kIndexSearchStart + at + kMaskOffset;
        if (maskAt >= length) return kStatusRecordNotFound;
        selection.mask = static_cast<std::uint8_t>(index[maskAt] & 0x3F);
        selection.count = 0;
        for (int bit = 0; bit < kMaxRecords; ++bit) {
            if (selection.mask & (1u << bit)) ++selection.count;
        }
        selection.dataSize = selection.count * static_cast<int>(kRecordSize);
        return kStatusOk;
    }
    return kStatusRecordNotFound;
}

}  // namespace cardread
