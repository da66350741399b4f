// The status word that ends every card answer, read in one place for both command families.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardread/status.h"

namespace cardread {

constexpr std::size_t kStatusWordSize = 2;  // SW1 SW2

// The answer's SW1 SW2 as a status: 0 for 90 00, the 16-bit word otherwise. 0x7402 when the
// answer has no status word, or ends in 00 00: no card sends that (SW1 is always 6x or 9x), and
// read as a word it would equal success.
inline Status statusWordOf(const std::vector<std::uint8_t>& response) {
    const std::size_t n = response.size();
    if (n < kStatusWordSize) return kStatusBadResponse;
    const Status sw = (static_cast<Status>(response[n - 2]) << 8) | response[n - 1];
    if (sw == 0) return kStatusBadResponse;
    return sw == kCardStatusOk ? kStatusOk : sw;
}

}  // namespace cardread
