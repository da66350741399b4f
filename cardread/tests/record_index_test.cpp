#include "record_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace cardtest {
namespace {

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
    const std::size_t n = cardread::kIndexSize;
    const struct {
        const char* name;
        Bytes index;
        std::size_t length;
        const char* key;
        cardread::Status status;
        std::uint8_t mask;
        int dataSize;
    } cases[] = {
        {"key at offset 11", index("HEADER", text("A001-") + Bytes{0x05}), n, "A001",
         cardread::kStatusOk, 0x05, 2000},
        {"second entry", index("", text("A001-") + Bytes{0x01} + text("B002-") + Bytes{0x3F}), n,
         "B002", cardread::kStatusOk, 0x3F, 6000},
        {"bits 6 and 7 ignored", index("", text("A001-") + Bytes{0xC0}), n, "A001",
         cardread::kStatusOk, 0x00, 0},
        {"mask 00 (text ends at it)", index("", text("A001-") + Bytes{0x00}), n, "A001",
         cardread::kStatusOk, 0x00, 0},
        {"only the first four characters count", index("", text("A001-") + Bytes{0x02}), n,
         "A001XYZ", cardread::kStatusOk, 0x02, 1000},
        {"a NUL shortens the key", index("", text("A0-x-") + Bytes{0x21}), n, "A0\0Q",
         cardread::kStatusOk, 0x21, 2000},
        {"key only in the header", index("xxA001-\x05", text("B002-") + Bytes{0x01}), n, "A001",
         cardread::kStatusRecordNotFound, 0, 0},
        {"key after the first NUL",
         index("", text("B002-") + Bytes{0x00} + text("A001-") + Bytes{0x01}), n, "A001",
         cardread::kStatusRecordNotFound, 0, 0},
        {"absent", index("", text("B002-") + Bytes{0x01}), n, "A001",
         cardread::kStatusRecordNotFound, 0, 0},
        {"empty key", index("", text("A001-") + Bytes{0x01}), n, "",
         cardread::kStatusRecordNotFound, 0, 0},
        // 140 bytes without a NUL, the key in the last four: its mask would be byte 140.
        {"mask byte past the 140 bytes", index("", Bytes(124, 'z') + text("A001x")), n, "A001",
         cardread::kStatusRecordNotFound, 0, 0},
        {"mask byte exactly the last byte",
         index("", Bytes(123, 'z') + text("A001x") + Bytes{0x04}), n, "A001", cardread::kStatusOk,
         0x04, 1000},
        {"mask byte past a short index file", index("", text("A001-") + Bytes{0x01}, 20), 15,
         "A001", cardread::kStatusRecordNotFound, 0, 0},
    };
    for (const auto& c : cases) {
        cardread::RecordSelection selection;
        ASSERT_LE(c.length, c.index.size()) << c.name;
        EXPECT_EQ(c.status, cardread::findRecord(c.index.data(), c.length, c.key, selection))
            << c.name;
        if (c.status == cardread::kStatusOk) {
            EXPECT_EQ(c.mask, selection.mask) << c.name;
            EXPECT_EQ(c.dataSize, selection.dataSize) << c.name;
        }
    }
}

}  // namespace
}  // namespace cardtest
