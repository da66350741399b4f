// The card's index: text entries that name a record key and, five bytes on, the record mask
// whose bits 0 to 5 pick the data files AC01 to AC06.
#pragma once

#include <cstddef>
#include <cstdint>

#include "cardread/status.h"

namespace cardread {

constexpr std::size_t kIndexSize = 140;
constexpr std::size_t kIndexSearchStart = 11;  // the index header is never searched
constexpr std::size_t kMaskOffset = 5;         // from the start of the key's entry
constexpr std::size_t kRecordKeyLength = 4;
constexpr std::size_t kRecordSize = 1000;
constexpr int kMaxRecords = 6;

struct RecordSelection {
    std::uint8_t mask = 0;  // bits 0 to 5 only
    int count = 0;
    int dataSize = 0;
};

// Looks the first four characters of `recordKey` (fewer if a NUL comes first) up in the
// `length` index bytes read from the card. 0 with the selection, or 0x7412 when the key
// is empty, absent, or so near the end that its mask byte was not read.
Status findRecord(const std::uint8_t* index, std::size_t length, const char* recordKey,
                  RecordSelection& selection);

}  // namespace cardread
