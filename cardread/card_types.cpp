#include "card_types.h"

#include <cstring>

namespace cardread {

// The ATR rows keep one card's bytes together.
// clang-format off
#define FF16 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, \
             0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF

// TA1, TB1 and TCK vary between batches of the 32K cards; the historical bytes name the card.
#define ATR_32K(h) 0x3B, 0xB8, 0x00, 0x00, 0x81, 0x31, 0xFA, 0x52, h, 0x00
#define MASK_32K 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, \
                 0xFF, 0xFF, 0xFF, 0xFF, 0x00

#define ASCII8(a, b, c, d, e, f, g, h) a, b, c, d, e, f, g, h

const CardType CardTypeTable[kCardTypeCount] = {
    {"STARCOS SPK 2.3",
     {0x3B, 0xB7, 0x94, 0x00, 0x81, 0x31, 0xFE, 0x65, 0x53, 0x50, 0x4B, 0x32, 0x33, 0x90, 0x00,
      0xD1},
     {FF16},
     16},
    {"Zarqo 32K", {ATR_32K(ASCII8('Z', 'a', 'r', 'q', 'o', 'V', '2', '2'))}, {MASK_32K}, 17},
    {"VEK Pelvo Card 32K", {ATR_32K(ASCII8('V', 'E', 'K', 'L', 'U', 'N', 'D', 'A'))}, {MASK_32K},
     17},
    {"VEK Quenta Card 32K", {ATR_32K(ASCII8('V', 'E', 'K', 'T', 'E', 'S', 'R', 'A'))}, {MASK_32K},
     17},
    {"QV Java Card",
     {0x3B, 0xFF, 0x00, 0x00, 0xFF, 0x00, 'Z', 'a', 'r', 'q', 'o', 'P', 'K', 'I', 'C', 'a', 'r',
      'd', 0x00, 0x00, 0x00},
     {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
      0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00},
     21},
    {"JCOP 20",
     {0x3B, 0xF6, 0x18, 0x00, 0xFF, 0x81, 0x31, 0xFE, 0x45, 0x4A, 0x43, 0x4F, 0x50, 0x32, 0x30,
      0x0E},
     {FF16},
     16},
    {"JCOP 31",
     {0x3B, 0xEB, 0x00, 0x00, 0x81, 0x31, 0x20, 0x45, 0x4A, 0x43, 0x4F, 0x50, 0x33, 0x31, 0x33,
      0x36, 0x47, 0x44, 0x54, 0x78},
     {FF16, 0xFF, 0xFF, 0xFF, 0xFF},
     20},
};

const CardType kSetCosAtr = {
    "Setec SetCos 4.3",
    {0x3B, 0x9F, 0x94, 0x40, 0x1E, 0x00, 0x67, 0x11, 0x43, 0x46, 0x49, 0x53, 0x45, 0x10, 0x52,
     0x66, 0xFF, 0x81, 0x90, 0x00},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
     0xFF, 0xFF, 0xFF, 0xFF, 0x00},
    20};

const CardDatabaseEntry kCardDatabaseEntries[kCardDatabaseEntryCount] = {
    {"Setec SetCos 4.3", &kSetCosAtr},
    {"SafeSignCard", &kSetCosAtr},
    {"VEK Quenta Card 32K", &CardTypeTable[3]},
    {"VEK Pelvo Card 32K", &CardTypeTable[2]},
    {"Morvaxen Pendra 32K", &CardTypeTable[1]},
    {"Morvaxen Zarqo GP PKI Card", &CardTypeTable[4]},
    {"JCOP 20", &CardTypeTable[5]},
    {"JCOP 31", &CardTypeTable[6]},
};

// clang-format on

#undef FF16
#undef ATR_32K
#undef MASK_32K
#undef ASCII8

bool atrMatches(const CardType& type, const std::uint8_t* atr, std::size_t length) {
    if (length != type.length) return false;
    for (std::size_t i = 0; i < length; ++i) {
        if ((atr[i] & type.mask[i]) != (type.atr[i] & type.mask[i])) return false;
    }
    return true;
}

const CardType* matchCardType(const std::uint8_t* atr, std::size_t length) {
    for (const CardType& type : CardTypeTable) {
        if (atrMatches(type, atr, length)) return &type;
    }
    return nullptr;
}

bool isMainKindAtr(const std::uint8_t* atr, std::size_t length) {
    return atrMatches(CardTypeTable[2], atr, length);
}

bool isStarcosKindAtr(const std::uint8_t* atr, std::size_t length) {
    return length == CardTypeTable[0].length && std::memcmp(atr, CardTypeTable[0].atr, length) == 0;
}

CardKind readableKind(const std::uint8_t* atr, std::size_t length) {
    if (isMainKindAtr(atr, length)) return CardKind::Main;
    if (isStarcosKindAtr(atr, length)) return CardKind::Starcos;
    return CardKind::Unreadable;
}

}  // namespace cardread
