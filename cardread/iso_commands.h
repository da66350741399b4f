// The ISO command family (class 00) of the STARCOS card kind. Results are 0 on 90 00 or 61 xx,
// the card's status word otherwise, or a PC/SC code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "card_channel.h"

namespace cardread {

constexpr std::size_t kIsoReceiveSize = 1024;
constexpr std::size_t kIsoReadChunk = 252;
constexpr std::size_t kStarcosPinBlockSize = 8;
constexpr std::uint8_t kStarcosPinReference = 0x82;

class IsoCommands {
  public:
    explicit IsoCommands(CardChannel& channel) : channel_(channel) {}

    Status selectMasterFile();
    Status selectApplication(const std::uint8_t* aid, std::size_t aidLength);

    // Selects the file, learns its size from FCI bytes 4 and 5 and reads it whole into
    // `destination`. 0x7401 if the file is larger than `capacity`; 0x7402 if the FCI or a
    // chunk is shorter than it must be; 0x7401 if a chunk is longer than asked.
    Status readFileById(std::uint16_t fileId, std::uint8_t* destination, std::size_t capacity,
                        std::size_t& size);

    // VERIFY with the first 8 PIN bytes, padded with blanks.
    Status verifyPinPlain(std::uint8_t reference, const std::uint8_t* pin, std::size_t pinLength);

  private:
    Status transmit(const std::uint8_t* command, std::size_t length);

    CardChannel& channel_;
    std::vector<std::uint8_t> response_;  // the last answer, data and status word
};

}  // namespace cardread
