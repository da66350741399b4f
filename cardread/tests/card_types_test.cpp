#include "card_types.h"

#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace cardtest {
namespace {

const Bytes kStarcosAtr = hex("3B B7 94 00 81 31 FE 65 53 50 4B 32 33 90 00 D1");
const Bytes kMainHead = hex("3B B8 13 00 81 31 FA 52");  // then eight historical bytes, TCK

TEST(CardTypes, AtrMatchingPicksTheFirstRowUnderItsMask) {
    const struct {
        const char* name;
        Bytes atr;
        const char* expectedType;  // null: no row
    } cases[] = {
        {"STARCOS exact", kStarcosAtr, "STARCOS SPK 2.3"},
        {"STARCOS with one more byte", kStarcosAtr + hex("00"), nullptr},
        {"STARCOS with another check byte", hex("3B B7 94 00 81 31 FE 65 53 50 4B 32 33 90 00 D2"),
         nullptr},
        {"main kind", kMainHead + text("VEKLUNDA") + hex("5C"), "VEK Pelvo Card 32K"},
        {"main kind, other TA1 TB1 TCK",
         hex("3B B8 96 11 81 31 FA 52") + text("VEKLUNDA") + hex("00"), "VEK Pelvo Card 32K"},
        {"main kind, other historical byte", kMainHead + text("VEKLUNDB") + hex("5C"), nullptr},
        {"Zarqo 32K", kMainHead + text("ZarqoV22") + hex("77"), "Zarqo 32K"},
        {"Quenta", kMainHead + text("VEKTESRA") + hex("77"), "VEK Quenta Card 32K"},
        {"Java card", hex("3B FF 18 00 FF 00") + text("ZarqoPKICard") + hex("01 02 03"),
         "QV Java Card"},
        {"JCOP 20", hex("3B F6 18 00 FF 81 31 FE 45 4A 43 4F 50 32 30 0E"), "JCOP 20"},
        {"JCOP 31", hex("3B EB 00 00 81 31 20 45 4A 43 4F 50 33 31 33 36 47 44 54 78"), "JCOP 31"},
        {"unknown", hex("3B 8F 80 01 80 4F 0C A0 00 00 03 06 03 00 01 00 00 00 00 6A"), nullptr},
        {"empty", Bytes{}, nullptr},
    };
    for (const auto& c : cases) {
        const cardread::CardType* type = cardread::matchCardType(c.atr.data(), c.atr.size());
        if (c.expectedType) {
            ASSERT_NE(nullptr, type) << c.name;
            EXPECT_STREQ(c.expectedType, type->name) << c.name;
        } else {
            EXPECT_EQ(nullptr, type) << c.name << " matched " << type->name;
        }
    }
}

TEST(CardTypes, OnlyRowsOneAndThreeAreReadableKinds) {
    const Bytes& starcos = kStarcosAtr;
    const Bytes pelvo = kMainHead + text("VEKLUNDA") + hex("5C");
    const Bytes zarqo = kMainHead + text("ZarqoV22") + hex("5C");
    EXPECT_TRUE(cardread::isStarcosKindAtr(starcos.data(), starcos.size()));
    EXPECT_FALSE(cardread::isMainKindAtr(starcos.data(), starcos.size()));
    EXPECT_TRUE(cardread::isMainKindAtr(pelvo.data(), pelvo.size()));
    EXPECT_FALSE(cardread::isStarcosKindAtr(pelvo.data(), pelvo.size()));
    EXPECT_FALSE(cardread::isMainKindAtr(zarqo.data(), zarqo.size()));
    EXPECT_FALSE(cardread::isStarcosKindAtr(zarqo.data(), zarqo.size()));
}

// Stored ATR bytes under a 00 mask byte must be 00, and nothing lies past the length (a
// row with a miscounted mask would show here).
TEST(CardTypes, MaskedBytesAreZeroAndNothingLiesPastTheLength) {
    for (const cardread::CardType& type : cardread::CardTypeTable) {
        for (std::size_t i = 0; i < cardread::kMaxAtrSize; ++i) {
            if (i < type.length) {
                EXPECT_EQ(0, type.atr[i] & ~type.mask[i]) << type.name << " byte " << i;
            } else {
                EXPECT_EQ(0, type.atr[i] | type.mask[i]) << type.name << " byte " << i;
            }
        }
    }
}

}  // namespace
}  // namespace cardtest
