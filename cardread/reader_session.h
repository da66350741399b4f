// Reader choice, card recognition and the card session around one read, and readUserData's
// logic over any PcscApi.
#pragma once

#include <cstddef>
#include <cstdint>

#include "key_store.h"
#include "pcsc_api.h"
#include "pcsc_handles.h"

namespace cardread {

struct CardSession {
    char readerName[kReaderNameSize] = {};
    char cardTypeName[kReaderNameSize] = {};
    int connected = 0;
    CardKind kind = CardKind::Unreadable;  // decided from the ATR when the session opens
    // The open session. Members are destroyed in reverse order, so even without closeSession
    // the transaction ends before the card is left and the card before the context goes.
    ContextOwner context;
    CardOwner card;
    TransactionOwner transaction;
};

constexpr int kSessionSlots = 1;

// What the library keeps between calls while it is loaded. Calls must not overlap.
struct LibraryState {
    CardSession slots[kSessionSlots];
    int recognisedCount = 0;
    KeyStore keys;
};

class ReaderSession {
  public:
    ReaderSession(PcscApi& pcsc, LibraryState& state, const IssuerSecrets& secrets)
        : pcsc_(pcsc), state_(state), secrets_(secrets) {}

    Status openNamedReader(const char* readerName);
    Status chooseReader();
    void introduceCardTypes(PcscContext context);
    Status connectSession(int slot);
    Status closeSession(int slot);

    // readUserData without the C boundary: 0, -1 or a status.
    int readUserData(const char* readerName, const std::uint8_t* pin, int pinLength,
                     const char* recordKey, std::uint8_t* outBuffer, int* ioLength);

  private:
    // Reads the ATR inside a transaction and fills slot 1 on a match; leaves the card.
    bool recognise(PcscCard card, const char* readerName);

    PcscApi& pcsc_;
    LibraryState& state_;
    const IssuerSecrets& secrets_;
};

}  // namespace cardread
