#include "record_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace cardtest {
namespace {

// One index entry: the key as text, a separator, then the mask byte.
Bytes entry(const std::string& key, std::uint8_t mask) {
    return text(key + "-") + Bytes{mask};
}

// An index of 140 bytes: an 11-byte header, then the entries as text.
Bytes index(const std::string& header, const Bytes& entries,
            std::size_t length = cardread::kIndexSize) {
    Bytes b(header.begin(), header.end());
    b.resize(cardread::kIndexSearchStart, 0x20);
    b = b + entries;
    b.resize(length, 0);
    return b;
}

TEST(RecordIndex, FindsTheKeyAndReadsTheMaskFiveBytesOn) {
    const cardread::Status kOk = cardread::kStatusOk, kNotFound = cardread::kStatusRecordNotFound;
    const struct {
        const char* name;
        Bytes index;
        const char* key;
        cardread::Status status;
        std::uint8_t mask = 0;
        int dataSize = 0;
        std::size_t length = cardread::kIndexSize;  // of the index, searched
    } cases[] = {
        {"key at offset 11", index("HEADER", entry("A001", 0x05)), "A001", kOk, 0x05, 2000},
        {"second entry", index("", entry("A001", 0x01) + entry("B002", 0x3F)), "B002", kOk, 0x3F,
         6000},
        {"bits 6 and 7 ignored", index("", entry("A001", 0xC0)), "A001", kOk, 0x00, 0},
        {"mask 00 (text ends at it)", index("", entry("A001", 0x00)), "A001", kOk, 0x00, 0},
        {"only the first four characters count", index("", entry("A001", 0x02)), "A001XYZ", kOk,
         0x02, 1000},
        {"a NUL shortens the key", index("", entry("A0-x", 0x21)), "A0\0Q", kOk, 0x21, 2000},
        {"key only in the header", index("xxA001-\x05", entry("B002", 0x01)), "A001", kNotFound},
        {"key after the first NUL", index("", entry("B002", 0x00) + entry("A001", 0x01)), "A001",
         kNotFound},
        {"absent", index("", entry("B002", 0x01)), "A001", kNotFound},
        {"empty key", index("", entry("A001", 0x01)), "", kNotFound},
        // 140 bytes without a NUL, the key in the last four: its mask would be byte 140.
        {"mask byte past the 140 bytes", index("", Bytes(124, 'z') + text("A001x")), "A001",
         kNotFound},
        {"mask byte exactly the last byte",
         index("", Bytes(123, 'z') + text("A001x") + Bytes{0x04}), "A001", kOk, 0x04, 1000},
        {"mask byte past a short index file", index("", entry("A001", 0x01), 20), "A001", kNotFound,
         0, 0, 15},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cardread::RecordSelection selection;
        ASSERT_LE(c.length, c.index.size());
        EXPECT_EQ(c.status, cardread::findRecord(c.index.data(), c.length, c.key, selection));
        if (c.status == kOk) {
            EXPECT_EQ(c.mask, selection.mask);
            EXPECT_EQ(c.dataSize, selection.dataSize);
        }
    }
}

}  // namespace
}  // namespace cardtest
