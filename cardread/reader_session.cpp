#include "reader_session.h"

#include <cstring>

#include "read_procedures.h"

namespace cardread {
namespace {

constexpr const char kStarcosTypeName[] = "STARCOS SPK 2.3";

// The card commands reach the card through the session's handle.
class PcscCardChannel : public CardChannel {
public:
    PcscCardChannel(PcscApi& pcsc, PcscCard card) : pcsc_(pcsc), card_(card) {}
    Status transmit(const std::uint8_t* command, std::size_t length, std::size_t receiveCapacity,
                    std::vector<std::uint8_t>& response) override {
        return pcsc_.transmit(card_, command, length, receiveCapacity, response);
    }

private:
    PcscApi& pcsc_;
    PcscCard card_;
};

// Copies a NUL-terminated text into a fixed field; false (field untouched) if it does not fit.
bool copyText(char (&field)[kReaderNameSize], const char* text) {
    const std::size_t length = strnlen(text, kReaderNameSize);
    if (length >= kReaderNameSize) return false;
    std::memcpy(field, text, length + 1);
    return true;
}

}  // namespace

void ReaderSession::introduceCardTypes(PcscContext context) {
    for (const CardDatabaseEntry& entry : kCardDatabaseEntries) {
        pcsc_.introduceCardType(context, entry.name, *entry.atrOf);
    }
}

bool ReaderSession::recognise(PcscCard card, const char* readerName) {
    if (pcsc_.beginTransaction(card) != 0) return false;
    bool found = false;
    std::uint8_t atr[kAtrBufferSize] = {};
    std::size_t atrLength = 0;
    if (pcsc_.readAtr(card, atr, sizeof atr, atrLength) == 0 && atrLength <= sizeof atr) {
        const CardType* type = matchCardType(atr, atrLength);
        CardSession& slot = state_.slots[0];
        // A reader name too long for the slot could only connect to another reader later.
        if (type && copyText(slot.readerName, readerName)) {
            copyText(slot.cardTypeName, type->name);
            slot.connected = 0;
            found = true;
        }
    }
    pcsc_.endTransaction(card);
    return found;
}

Status ReaderSession::openNamedReader(const char* readerName) {
    state_.recognisedCount = 0;
    PcscContext context = 0;
    const Status rv = pcsc_.establishContext(context);
    if (rv != 0) return rv;
    introduceCardTypes(context);

    bool found = false;
    PcscCard card = 0;
    // No such reader, or no card in it, is not an error here: nothing is recognised.
    if (pcsc_.connect(context, readerName, card) == 0) {
        found = recognise(card, readerName);
        pcsc_.disconnect(card);
    }
    state_.recognisedCount = found ? 1 : 0;
    pcsc_.releaseContext(context);
    return kStatusOk;
}

Status ReaderSession::chooseReader() {
    state_.recognisedCount = 0;
    PcscContext context = 0;
    Status rv = pcsc_.establishContext(context);
    if (rv != 0) return rv;
    introduceCardTypes(context);

    char readerName[kReaderNameSize] = {};
    PcscCard card = 0;
    rv = pcsc_.chooseCard(context, readerName, sizeof readerName, card);
    if (rv != 0) {
        pcsc_.releaseContext(context);
        return rv;
    }
    readerName[kReaderNameSize - 1] = '\0';
    const bool found = recognise(card, readerName);
    pcsc_.disconnect(card);
    pcsc_.releaseContext(context);
    state_.recognisedCount = found ? 1 : 0;
    return kStatusOk;
}

Status ReaderSession::connectSession(int slotNumber) {
    if (slotNumber < 1 || slotNumber > state_.recognisedCount || slotNumber > kSessionSlots) {
        return kStatusBadSlot;
    }
    CardSession& slot = state_.slots[slotNumber - 1];
    PcscContext context = 0;
    Status rv = pcsc_.establishContext(context);
    if (rv != 0) return rv;
    PcscCard card = 0;
    if ((rv = pcsc_.connect(context, slot.readerName, card)) != 0) {
        pcsc_.releaseContext(context);
        return rv;
    }
    // The whole read runs inside one transaction: another process's commands cannot slip
    // between our SELECT and READ BINARY and change the file we read from.
    if ((rv = pcsc_.beginTransaction(card)) != 0) {
        pcsc_.disconnect(card);
        pcsc_.releaseContext(context);
        return rv;
    }
    auto fail = [&](Status status) {
        pcsc_.endTransaction(card);
        pcsc_.disconnect(card);
        pcsc_.releaseContext(context);
        return status;
    };

    std::uint8_t atr[kAtrBufferSize] = {};
    std::size_t atrLength = 0;
    if ((rv = pcsc_.readAtr(card, atr, sizeof atr, atrLength)) != 0) return fail(rv);
    if (atrLength > sizeof atr) return fail(kPcscInsufficientBuffer);

    if (isMainKindAtr(atr, atrLength)) {
        if (SetupKeys(state_.keys, secrets_) != 0) return fail(kStatusMissingArgument);
    } else if (!isStarcosKindAtr(atr, atrLength)) {
        return fail(kStatusMissingArgument);  // recognised, but not a kind this library reads
    }
    slot.connected = 1;
    slot.card = card;
    slot.context = context;
    return kStatusOk;
}

Status ReaderSession::closeSession(int slotNumber) {
    if (slotNumber < 1 || slotNumber > kSessionSlots) return kStatusBadSlot;
    CardSession& slot = state_.slots[slotNumber - 1];
    if (!slot.connected) return kStatusOk;
    pcsc_.endTransaction(slot.card);
    // The context is released even when the disconnect fails, so nothing stays open.
    Status rv = pcsc_.disconnect(slot.card);
    const Status released = pcsc_.releaseContext(slot.context);
    if (rv == 0) rv = released;
    slot.connected = 0;
    slot.card = 0;
    slot.context = 0;
    return rv == 0 ? kStatusOk : rv;
}

int ReaderSession::readUserData(const char* readerName, const std::uint8_t* pin, int pinLength,
                                const char* recordKey, std::uint8_t* outBuffer, int* ioLength) {
    // A negative length or a missing length variable is as unusable as a missing PIN.
    if (pin == nullptr || pinLength <= 0 || recordKey == nullptr || ioLength == nullptr) {
        return kStatusMissingArgument;
    }
    Status rv = readerName ? openNamedReader(readerName) : chooseReader();
    if (rv != kStatusOk) return rv;
    if (state_.recognisedCount < 1) return kPcscRemovedCard;
    if ((rv = connectSession(1)) != kStatusOk) return rv;

    // Closes the session on every way out, also when an allocation fails mid-read.
    struct SessionCloser {
        ReaderSession& session;
        ~SessionCloser() { session.closeSession(1); }
    } closer{*this};

    const CardSession& slot = state_.slots[0];
    PcscCardChannel channel(pcsc_, slot.card);
    const ReadRequest request{pin, pinLength, recordKey, outBuffer, ioLength};
    if (std::strncmp(slot.cardTypeName, kStarcosTypeName, sizeof kStarcosTypeName - 1) == 0) {
        rv = readStarcosCard(channel, request);
    } else {
        rv = readMainCard(channel, state_.keys, secrets_.authKey, secrets_.authKeyLength,
                          request);
    }
    return rv == kStatusOk ? 0 : rv;
}

}  // namespace cardread
