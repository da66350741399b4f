#include "read_procedures.h"

#include <algorithm>
#include <cstring>

#include "common/secret.h"
#include "iso_commands.h"
#include "proprietary_commands.h"
#include "record_index.h"

namespace cardread {
namespace {

constexpr std::uint16_t kMasterFile = 0x3F00;
constexpr std::uint16_t kFirstDataFile = 0xAC01;
constexpr std::uint8_t kPkcs15Aid[] = {0xA0, 0x00, 0x00, 0x00, 0x63, 0x50,
                                       0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};

// Steps shared by both kinds once the index is read: find the key, answer a size query, and
// refuse a buffer too small before the PIN is sent.
Status selectRecords(const std::uint8_t* index, std::size_t indexLength, const ReadRequest& request,
                     RecordSelection& selection, bool& sizeQuery) {
    const Status rv = findRecord(index, indexLength, request.recordKey, selection);
    if (rv != kStatusOk) return rv;
    sizeQuery = request.outBuffer == nullptr;
    if (sizeQuery) {
        *request.ioLength = selection.dataSize;
        return kStatusOk;
    }
    if (*request.ioLength < selection.dataSize) return kStatusBufferTooSmall;
    return kStatusOk;
}

}  // namespace

Status readMainCard(CardChannel& channel, const KeyStore& keys, const std::uint8_t* authKey,
                    std::size_t authKeyLength, const ReadRequest& request) {
    ProprietaryCommands card(channel, keys);
    Status rv = kStatusOk;
    for (std::uint16_t file : {kMasterFile, std::uint16_t{0x0900}, std::uint16_t{0x0904}}) {
        if ((rv = card.selectFile(file)) != kStatusOk) return rv;
    }
    std::uint8_t index[kIndexSize] = {};
    if ((rv = card.readBinaryChunked(kClassProprietary, 0, kIndexSize, index)) != kStatusOk)
        return rv;

    RecordSelection selection;
    bool sizeQuery = false;
    if ((rv = selectRecords(index, kIndexSize, request, selection, sizeQuery)) != kStatusOk) {
        return rv;
    }
    if (sizeQuery) return kStatusOk;

    // The PIN context is DF 0800 on most cards, DF 5030 on those without it.
    card.selectFile(kMasterFile);
    if (card.selectFile(0x0800) != kStatusOk) card.selectFile(0x5030);
    if ((rv = card.selectFile(0x0810)) != kStatusOk) return rv;

    {
        common::SecretArray<kMainPinBlockSize> pinBlock;
        std::memset(pinBlock.data(), 0xFF, pinBlock.size());
        const std::size_t used =
            std::min(static_cast<std::size_t>(request.pinLength), kMainPinBlockSize);
        std::memcpy(pinBlock.data(), request.pin, used);
        if ((rv = card.verifyPinProtected(pinBlock.data())) != kStatusOk) return rv;
    }

    for (std::uint16_t file : {kMasterFile, std::uint16_t{0x0900}, std::uint16_t{0x0910}}) {
        if ((rv = card.selectFile(file)) != kStatusOk) return rv;
    }
    if ((rv = card.externalAuthenticate(kAuthKeyReference, authKey, authKeyLength)) != kStatusOk) {
        return rv;
    }

    std::uint8_t* slot = request.outBuffer;
    std::uint8_t record[kRecordSize];
    for (int bit = 0; bit < kMaxRecords; ++bit) {
        if (!(selection.mask & (1u << bit))) continue;
        if ((rv = card.selectFile(static_cast<std::uint16_t>(kFirstDataFile + bit))) != kStatusOk) {
            return rv;
        }
        std::memset(record, 0, sizeof record);
        if ((rv = card.readBinaryChunked(kClassProprietary, 0, kRecordSize, record)) != kStatusOk) {
            return rv;
        }
        std::memcpy(slot, record, kRecordSize);
        slot += kRecordSize;
    }
    *request.ioLength = selection.dataSize;
    return kStatusOk;
}

Status readStarcosCard(CardChannel& channel, const ReadRequest& request) {
    IsoCommands card(channel);
    Status rv = card.selectMasterFile();
    if (rv != kStatusOk) return rv;

    std::uint8_t index[kIndexSize] = {};
    std::size_t indexLength = 0;
    if ((rv = card.readFileById(0xFE15, index, kIndexSize, indexLength)) != kStatusOk) return rv;

    RecordSelection selection;
    bool sizeQuery = false;
    if ((rv = selectRecords(index, indexLength, request, selection, sizeQuery)) != kStatusOk) {
        return rv;
    }
    if (sizeQuery) return kStatusOk;

    if ((rv = card.selectApplication(kPkcs15Aid, sizeof kPkcs15Aid)) != kStatusOk) return rv;
    if ((rv = card.verifyPinPlain(kStarcosPinReference, request.pin,
                                  static_cast<std::size_t>(request.pinLength))) != kStatusOk) {
        return rv;
    }

    std::uint8_t* slot = request.outBuffer;
    std::uint8_t record[kRecordSize];
    for (int bit = 0; bit < kMaxRecords; ++bit) {
        if (!(selection.mask & (1u << bit))) continue;
        std::size_t fileSize = 0;
        rv = card.readFileById(static_cast<std::uint16_t>(kFirstDataFile + bit), record,
                               kRecordSize, fileSize);
        if (rv != kStatusOk) return rv;
        // Bytes of the slot past the file stay as the caller had them.
        std::memcpy(slot, record, fileSize);
        slot += kRecordSize;
    }
    *request.ioLength = selection.dataSize;
    return kStatusOk;
}

}  // namespace cardread
