#include "iso_commands.h"

#include <cstring>

#include "common/secret.h"
#include "status_word.h"

namespace cardread {
namespace {

constexpr std::size_t kFciSizeOffset = 4;  // file size, most significant byte first
constexpr std::size_t kMaxAidSize = 16;

}  // namespace

Status IsoCommands::transmit(const std::uint8_t* command, std::size_t length) {
    response_.clear();
    const Status rv = channel_.transmit(command, length, kIsoReceiveSize, response_);
    if (rv != kStatusOk) return rv;
    // 61 xx announces more data; the commands here want none of it.
    const std::size_t n = response_.size();
    if (n >= kStatusWordSize && response_[n - kStatusWordSize] == kMoreDataSw1) return kStatusOk;
    return statusWordOf(response_);
}

Status IsoCommands::selectMasterFile() {
    const std::uint8_t command[] = {0x00, 0xA4, 0x00, 0x0C, 0x02, 0x3F, 0x00};
    return transmit(command, sizeof command);
}

Status IsoCommands::selectApplication(const std::uint8_t* aid, std::size_t aidLength) {
    if (aidLength > kMaxAidSize) return kStatusMissingArgument;
    std::uint8_t command[5 + kMaxAidSize] = {0x00, 0xA4, 0x04, 0x0C,
                                             static_cast<std::uint8_t>(aidLength)};
    std::memcpy(command + 5, aid, aidLength);
    return transmit(command, 5 + aidLength);
}

Status IsoCommands::readFileById(std::uint16_t fileId, std::uint8_t* destination,
                                 std::size_t capacity, std::size_t& size) {
    const std::uint8_t select[] = {0x00, 0xA4, 0x00, 0x00, 0x02, highByte(fileId), lowByte(fileId)};
    Status rv = transmit(select, sizeof select);
    if (rv != kStatusOk) return rv;
    if (response_.size() < kStatusWordSize + kFciSizeOffset + 2) return kStatusBadResponse;
    const std::size_t fileSize =
        (static_cast<std::size_t>(response_[kFciSizeOffset]) << 8) | response_[kFciSizeOffset + 1];
    if (fileSize > capacity) return kStatusBufferTooSmall;

    if (fileSize <= kIsoReadChunk) {
        // Le 00: the card sends the file as far as it goes.
        const std::uint8_t read[] = {0x00, 0xB0, 0x00, 0x00, 0x00};
        rv = transmit(read, sizeof read);
        if (rv != kStatusOk) return rv;
        if (response_.size() - kStatusWordSize < fileSize) return kStatusBadResponse;
        if (fileSize > 0) std::memcpy(destination, response_.data(), fileSize);
        size = fileSize;
        return kStatusOk;
    }

    for (std::size_t offset = 0; offset < fileSize; offset += kIsoReadChunk) {
        const std::size_t chunk =
            fileSize - offset > kIsoReadChunk ? kIsoReadChunk : fileSize - offset;
        const std::uint8_t read[] = {0x00, 0xB0, static_cast<std::uint8_t>(offset >> 8),
                                     static_cast<std::uint8_t>(offset),
                                     static_cast<std::uint8_t>(chunk)};
        rv = transmit(read, sizeof read);
        if (rv != kStatusOk) return rv;
        const std::size_t got = response_.size() - kStatusWordSize;
        if (got > chunk) return kStatusBufferTooSmall;
        if (got < chunk) return kStatusBadResponse;
        std::memcpy(destination + offset, response_.data(), chunk);
    }
    size = fileSize;
    return kStatusOk;
}

Status IsoCommands::verifyPinPlain(std::uint8_t reference, const std::uint8_t* pin,
                                   std::size_t pinLength) {
    common::SecretArray<5 + kStarcosPinBlockSize> command;
    const std::uint8_t header[] = {0x00, 0x20, 0x00, reference, kStarcosPinBlockSize};
    std::memcpy(command.data(), header, sizeof header);
    std::memset(command.data() + 5, 0x20, kStarcosPinBlockSize);
    std::memcpy(command.data() + 5, pin,
                pinLength < kStarcosPinBlockSize ? pinLength : kStarcosPinBlockSize);
    return transmit(command.data(), command.size());
}

}  // namespace cardread
