// The one road from the card commands to a card: send a command APDU, get the answer.
// The PC/SC layer implements it over SCardTransmit; tests and fuzzers put a stand-in here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "cardread/status.h"

namespace cardread {

// The bytes of a 16-bit file identifier or offset as commands carry them, high byte first.
constexpr std::uint8_t highByte(std::uint16_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}
constexpr std::uint8_t lowByte(std::uint16_t value) {
    return static_cast<std::uint8_t>(value);
}

class CardChannel {
  public:
    virtual ~CardChannel() = default;

    // Sends `length` command bytes with T=1 protocol information. On 0 `response` holds the
    // card's answer (data, SW1, SW2), never more than `receiveCapacity` bytes; an answer that
    // does not fit fails with SCARD_E_INSUFFICIENT_BUFFER as PC/SC does. Any other failure is
    // the PC/SC code.
    virtual Status transmit(const std::uint8_t* command, std::size_t length,
                            std::size_t receiveCapacity, std::vector<std::uint8_t>& response) = 0;
};

}  // namespace cardread
