// The proprietary command family (class 80) of the main card kind, with secure messaging.
// Every operation returns 0 for 90 00, the card's status word otherwise, or a PC/SC code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "card_channel.h"
#include "des_cipher.h"
#include "key_store.h"

namespace cardread {

constexpr std::uint8_t kClassProprietary = 0x80;
constexpr std::size_t kSelectReceiveSize = 500;
constexpr std::size_t kOtherReceiveSize = 300;
constexpr std::size_t kReadChunkSize = 200;
constexpr std::size_t kChallengeSize = 8;
constexpr std::size_t kMainPinBlockSize = 10;
constexpr std::uint8_t kAuthKeyReference = 0x22;

class ProprietaryCommands {
  public:
    ProprietaryCommands(CardChannel& channel, const KeyStore& keys)
        : channel_(channel), keys_(keys) {}

    Status selectFile(std::uint16_t fileId);

    // Reads up to `count` bytes at `offset` into `destination` (room for `count`). An answer
    // of the status alone copies nothing; an answer longer than asked fails with 0x7401.
    Status readBinary(std::uint8_t classByte, std::uint16_t offset, std::uint8_t count,
                      std::uint8_t* destination);
    Status readBinaryChunked(std::uint8_t classByte, std::uint16_t offset, std::size_t count,
                             std::uint8_t* destination);

    Status getChallenge(std::uint8_t challenge[kChallengeSize]);

    // Card authentication: GET CHALLENGE, then the challenge enciphered under `key`.
    Status externalAuthenticate(std::uint8_t keyReference, const std::uint8_t* key,
                                std::size_t keyLength);

    // VERIFY of the 10-byte PIN block under key B (encipherment) and its copy (MAC).
    Status verifyPinProtected(const std::uint8_t pinBlock[kMainPinBlockSize]);

  private:
    Status transmit(const std::uint8_t* command, std::size_t length, std::size_t capacity,
                    std::vector<std::uint8_t>& response);

    CardChannel& channel_;
    const KeyStore& keys_;
};

}  // namespace cardread
