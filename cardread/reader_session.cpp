#include "reader_session.h"

#include <cstring>
#include <utility>

#include "common/scope_exit.h"
#include "common/trace.h"
#include "read_procedures.h"
#include "session_trace.h"

namespace cardread {
namespace {

// The card commands reach the card through the session's handle.
class PcscCardChannel : public CardChannel {
  public:
    PcscCardChannel(PcscApi& pcsc, PcscCard card) : pcsc_(pcsc), card_(card) {}
    Status transmit(const std::uint8_t* command, std::size_t length, std::size_t receiveCapacity,
                    std::vector<std::uint8_t>& response) override {
        const cardtrace::Stopwatch clock;
        const Status rv = pcsc_.transmit(card_, command, length, receiveCapacity, response);
        sessiontrace::command(command, length, rv, response, clock.ms());
        return rv;
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
    TransactionOwner transaction;
    std::uint8_t atr[kAtrBufferSize] = {};
    std::size_t atrLength = 0;
    Status rv = beginTransaction(pcsc_, card, transaction);
    if (rv == kStatusOk) rv = pcsc_.readAtr(card, atr, sizeof atr, atrLength);
    if (rv == kStatusOk && atrLength > sizeof atr) rv = kPcscInsufficientBuffer;
    sessiontrace::recognition(readerName, rv, atr, atrLength);
    if (rv != kStatusOk) return false;
    const CardType* type = matchCardType(atr, atrLength);
    CardSession& slot = state_.slots[0];
    // A reader name too long for the slot could only connect to another reader later.
    if (type == nullptr || !copyText(slot.readerName, readerName)) return false;
    copyText(slot.cardTypeName, type->name);
    slot.connected = 0;
    return true;
}

Status ReaderSession::openNamedReader(const char* readerName) {
    state_.recognisedCount = 0;
    ContextOwner context;
    const Status rv = establishContext(pcsc_, context);
    if (rv != kStatusOk) {
        sessiontrace::readerStep(pcsc_, rv, 0, readerName, readerName, rv);
        return rv;
    }
    introduceCardTypes(context.get());

    // No such reader, or no card in it, is not an error here: nothing is recognised.
    CardOwner card;
    const Status connected = connectCard(pcsc_, context.get(), readerName, card);
    sessiontrace::readerStep(pcsc_, kStatusOk, context.get(), readerName, readerName, connected);
    if (connected == kStatusOk && recognise(card.get(), readerName)) state_.recognisedCount = 1;
    return kStatusOk;
}

Status ReaderSession::chooseReader() {
    state_.recognisedCount = 0;
    ContextOwner context;
    Status rv = establishContext(pcsc_, context);
    if (rv != kStatusOk) {
        sessiontrace::readerStep(pcsc_, rv, 0, nullptr, nullptr, rv);
        return rv;
    }
    introduceCardTypes(context.get());

    char readerName[kReaderNameSize] = {};
    PcscCard chosen = 0;
    rv = pcsc_.chooseCard(context.get(), readerName, sizeof readerName, chosen);
    readerName[kReaderNameSize - 1] = '\0';
    sessiontrace::readerStep(pcsc_, kStatusOk, context.get(), nullptr, readerName, rv);
    if (rv != kStatusOk) return rv;
    const CardOwner card(pcsc_, chosen);
    if (recognise(card.get(), readerName)) state_.recognisedCount = 1;
    return kStatusOk;
}

Status ReaderSession::connectSession(int slotNumber) {
    if (slotNumber < 1 || slotNumber > state_.recognisedCount || slotNumber > kSessionSlots) {
        return kStatusBadSlot;
    }
    CardSession& slot = state_.slots[slotNumber - 1];
    ContextOwner context;
    Status rv = establishContext(pcsc_, context);
    if (rv != kStatusOk) return rv;
    CardOwner card;
    if ((rv = connectCard(pcsc_, context.get(), slot.readerName, card)) != kStatusOk) return rv;
    // The whole read runs inside one transaction: another process's commands cannot slip
    // between our SELECT and READ BINARY and change the file we read from.
    TransactionOwner transaction;
    if ((rv = beginTransaction(pcsc_, card.get(), transaction)) != kStatusOk) return rv;

    std::uint8_t atr[kAtrBufferSize] = {};
    std::size_t atrLength = 0;
    if ((rv = pcsc_.readAtr(card.get(), atr, sizeof atr, atrLength)) != kStatusOk) return rv;
    if (atrLength > sizeof atr) return kPcscInsufficientBuffer;

    const CardKind kind = readableKind(atr, atrLength);
    sessiontrace::session(pcsc_, card.get(), atr, atrLength, kind);
    // Recognised, but not a kind this library reads; or the main kind's keys are bad.
    if (kind == CardKind::Unreadable) return kStatusMissingArgument;
    if (kind == CardKind::Main && SetupKeys(state_.keys, secrets_) != 0) {
        return kStatusMissingArgument;
    }
    slot.kind = kind;
    // In the order that releases whatever the slot still held correctly.
    slot.transaction = std::move(transaction);
    slot.card = std::move(card);
    slot.context = std::move(context);
    slot.connected = 1;
    return kStatusOk;
}

Status ReaderSession::closeSession(int slotNumber) {
    if (slotNumber < 1 || slotNumber > kSessionSlots) return kStatusBadSlot;
    CardSession& slot = state_.slots[slotNumber - 1];
    if (!slot.connected) return kStatusOk;
    slot.connected = 0;
    slot.transaction.release();
    // The context is released even when the disconnect fails, so nothing stays open.
    const Status disconnected = slot.card.release();
    const Status released = slot.context.release();
    return disconnected != kStatusOk ? disconnected : released;
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
    common::ScopeExit closer([this] { closeSession(1); });

    const CardSession& slot = state_.slots[0];
    PcscCardChannel channel(pcsc_, slot.card.get());
    const ReadRequest request{pin, pinLength, recordKey, outBuffer, ioLength};
    if (slot.kind == CardKind::Starcos) return readStarcosCard(channel, request);
    return readMainCard(channel, state_.keys, secrets_.authKey, secrets_.authKeyLength, request);
}

}  // namespace cardread
