#include "proprietary_commands.h"

#include <cstring>

#include "common/secret.h"
#include "secure_messaging.h"
#include "status_word.h"

namespace cardread {
namespace {

constexpr std::size_t kMaxCommandSize = 5 + 255;

}  // namespace

Status ProprietaryCommands::transmit(const std::uint8_t* command, std::size_t length,
                                     std::size_t capacity, std::vector<std::uint8_t>& response) {
    const Status rv = channel_.transmit(command, length, capacity, response);
    if (rv != kStatusOk) return rv;
    return statusWordOf(response);
}

Status ProprietaryCommands::selectFile(std::uint16_t fileId) {
    const std::uint8_t command[] = {kClassProprietary, 0xA4,           0x00, 0x00, 0x02,
                                    highByte(fileId),  lowByte(fileId)};
    std::vector<std::uint8_t> response;
    return transmit(command, sizeof command, kSelectReceiveSize, response);
}

Status ProprietaryCommands::readBinary(std::uint8_t classByte, std::uint16_t offset,
                                       std::uint8_t count, std::uint8_t* destination) {
    const std::uint8_t command[] = {classByte, 0xB0,
                                    static_cast<std::uint8_t>((offset >> 8) & 0x7F),
                                    static_cast<std::uint8_t>(offset), count};
    std::vector<std::uint8_t> response;
    Status rv = channel_.transmit(command, sizeof command, kOtherReceiveSize, response);
    if (rv != kStatusOk) return rv;
    rv = unwrapResponse(response, classByte, keys_.macKey.data(), keys_.keyB.data());
    if (rv != kStatusOk) return rv;
    rv = statusWordOf(response);
    if (rv != kStatusOk) return rv;

    const std::size_t dataLength = response.size() - kStatusWordSize;
    if (dataLength > count) return kStatusBufferTooSmall;
    // The file is as long as the chunk asked for; fewer bytes would leave the rest of the
    // caller's record as it was, handed on as if the card had written it.
    if (dataLength < count) return kStatusBadResponse;
    std::memcpy(destination, response.data(), dataLength);
    return kStatusOk;
}

Status ProprietaryCommands::readBinaryChunked(std::uint8_t classByte, std::uint16_t offset,
                                              std::size_t count, std::uint8_t* destination) {
    for (std::size_t done = 0; done < count; done += kReadChunkSize) {
        const std::size_t chunk = count - done < kReadChunkSize ? count - done : kReadChunkSize;
        const Status rv = readBinary(classByte, static_cast<std::uint16_t>(offset + done),
                                     static_cast<std::uint8_t>(chunk), destination + done);
        if (rv != kStatusOk) return rv;
    }
    return kStatusOk;
}

Status ProprietaryCommands::getChallenge(std::uint8_t challenge[kChallengeSize]) {
    const std::uint8_t command[] = {kClassProprietary, 0x84, 0x00, 0x00, kChallengeSize};
    std::vector<std::uint8_t> response;
    const Status rv = transmit(command, sizeof command, kOtherReceiveSize, response);
    if (rv != kStatusOk) return rv;
    const std::size_t dataLength = response.size() - kStatusWordSize;
    if (dataLength > kChallengeSize) return kStatusBufferTooSmall;
    // Fewer bytes would leave part of the challenge to chance, and the card would refuse.
    if (dataLength < kChallengeSize) return kStatusBadResponse;
    std::memcpy(challenge, response.data(), kChallengeSize);
    return kStatusOk;
}

Status ProprietaryCommands::externalAuthenticate(std::uint8_t keyReference, const std::uint8_t* key,
                                                 std::size_t keyLength) {
    if (keyLength != kTripleDesKeySize) return kStatusBadAuthKeyLength;
    std::uint8_t command[5 + kChallengeSize] = {kClassProprietary, 0x82, 0x01, keyReference,
                                                kChallengeSize};
    Status rv = getChallenge(command + 5);
    if (rv != kStatusOk) return rv;
    tripleDesEncryptBlock(command + 5, key);
    std::vector<std::uint8_t> response;
    return transmit(command, sizeof command, kOtherReceiveSize, response);
}

Status ProprietaryCommands::verifyPinProtected(const std::uint8_t pinBlock[kMainPinBlockSize]) {
    common::SecretArray<kMaxCommandSize> command;
    const std::uint8_t header[] = {kClassProprietary | kClassMac | kClassEncipher, 0x20, 0x00, 0x01,
                                   kMainPinBlockSize};
    std::memcpy(command.data(), header, sizeof header);
    std::memcpy(command.data() + sizeof header, pinBlock, kMainPinBlockSize);
    std::size_t length = sizeof header + kMainPinBlockSize;

    Status rv =
        wrapCommand(command.data(), length, command.size(), keys_.macKey.data(), keys_.keyB.data());
    if (rv != kStatusOk) return rv;
    // The answer's status is read as it stands; the card does not protect it.
    std::vector<std::uint8_t> response;
    return transmit(command.data(), length, kOtherReceiveSize, response);
}

}  // namespace cardread
