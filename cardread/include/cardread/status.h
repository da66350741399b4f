// The library's status values, for the library and for the programs that map readUserData's
// results. Success is 0 everywhere inside the library, as it is for PC/SC and at the export;
// the card's 90 00 becomes 0 where its answer is read. PC/SC codes and the card's other status
// words pass through unchanged.
#pragma once

#include <cstdint>

namespace cardread {

using Status = std::int32_t;

constexpr Status kStatusOk = 0;
constexpr Status kStatusMissingArgument = -1;       // also: card kind not readable, bad key block
constexpr Status kStatusBadSlot = 0x7303;           // slot outside 1..recognisedCount
constexpr Status kStatusBufferTooSmall = 0x7401;    // data larger than the room for it
constexpr Status kStatusBadResponse = 0x7402;       // card answer too short to hold what it must
constexpr Status kStatusRecordNotFound = 0x7412;    // record key not in the card's index
constexpr Status kStatusBadAuthKeyLength = 0x6710;  // authentication key not 16 bytes
constexpr Status kStatusSecureMessaging = 0x20100001;

// PC/SC codes the library produces itself (same values on every platform).
constexpr Status kPcscInsufficientBuffer = static_cast<Status>(0x80100008u);
constexpr Status kPcscNoMemory = static_cast<Status>(0x80100006u);
constexpr Status kPcscNoSmartcard = static_cast<Status>(0x8010000Cu);
constexpr Status kPcscRemovedCard = static_cast<Status>(0x80100069u);

// The card's own words for success: 90 00, and 61 xx (more data waiting) where a command
// wants no data.
constexpr Status kCardStatusOk = 0x9000;
constexpr std::uint8_t kMoreDataSw1 = 0x61;

// PC/SC return values are LONG (64 bits with pcsc-lite on LP64); their codes fit 32 bits.
template <typename Long>
constexpr Status pcscStatus(Long rv) {
    return static_cast<Status>(static_cast<std::uint32_t>(rv));
}

}  // namespace cardread
