// Card recognition by the answer to reset: the library's own table of card types and the
// entries it registers in the system's smart-card database.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cardread {

constexpr std::size_t kMaxAtrSize = 36;
constexpr std::size_t kCardTypeCount = 7;
constexpr std::size_t kCardDatabaseEntryCount = 8;

struct CardType {
    const char* name;               // at most 31 characters
    std::uint8_t atr[kMaxAtrSize];  // bytes under a 00 mask byte are stored as 00
    std::uint8_t mask[kMaxAtrSize];
    std::size_t length;
};

struct CardDatabaseEntry {
    const char* name;
    const CardType* atrOf;  // the row whose ATR, mask and length the entry uses
};

extern const CardType CardTypeTable[kCardTypeCount];
extern const CardDatabaseEntry kCardDatabaseEntries[kCardDatabaseEntryCount];
extern const CardType kSetCosAtr;  // the ATR of the first two database entries

// True when `atr` has the type's length and agrees with it under the mask.
bool atrMatches(const CardType& type, const std::uint8_t* atr, std::size_t length);

// The first matching row of CardTypeTable, or null.
const CardType* matchCardType(const std::uint8_t* atr, std::size_t length);

// The two kinds the library reads.
bool isMainKindAtr(const std::uint8_t* atr, std::size_t length);     // row 3, masked
bool isStarcosKindAtr(const std::uint8_t* atr, std::size_t length);  // row 1, exact

// How a card is read: the kind its ATR is of, or none of the two (recognised cards of the
// other rows included).
enum class CardKind { Unreadable, Main, Starcos };
CardKind readableKind(const std::uint8_t* atr, std::size_t length);

}  // namespace cardread
