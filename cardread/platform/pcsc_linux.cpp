// PC/SC through pcsc-lite. Where it has no counterpart of the Windows service: no smart-card
// database to register card types in, and no card dialog (the first reader holding a card is
// chosen). The ATR comes from SCardStatus, which every reader driver answers.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <cstring>
#include <vector>

#include "../pcsc_api.h"

namespace cardread {
namespace {

SCARDCONTEXT toContext(PcscContext c) { return static_cast<SCARDCONTEXT>(c); }
SCARDHANDLE toCard(PcscCard c) { return static_cast<SCARDHANDLE>(c); }

class PcscLite : public PcscApi {
public:
    Status establishContext(PcscContext& context) override {
        SCARDCONTEXT c = 0;
        const LONG rv = SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &c);
        if (rv == SCARD_S_SUCCESS) context = static_cast<PcscContext>(c);
        return pcscStatus(rv);
    }

    Status releaseContext(PcscContext context) override {
        return pcscStatus(SCardReleaseContext(toContext(context)));
    }

    Status connect(PcscContext context, const char* readerName, PcscCard& card) override {
        SCARDHANDLE h = 0;
        DWORD protocol = 0;
        const LONG rv = SCardConnect(toContext(context), readerName, SCARD_SHARE_SHARED,
                                     SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &h, &protocol);
        if (rv == SCARD_S_SUCCESS) card = static_cast<PcscCard>(h);
        return pcscStatus(rv);
    }

    Status disconnect(PcscCard card) override {
        return pcscStatus(SCardDisconnect(toCard(card), SCARD_LEAVE_CARD));
    }

    Status beginTransaction(PcscCard card) override {
        return pcscStatus(SCardBeginTransaction(toCard(card)));
    }

    Status endTransaction(PcscCard card) override {
        return pcscStatus(SCardEndTransaction(toCard(card), SCARD_LEAVE_CARD));
    }

    Status readAtr(PcscCard card, std::uint8_t* atr, std::size_t capacity,
                   std::size_t& length) override {
        DWORD state = 0;
        DWORD protocol = 0;
        DWORD atrLength = static_cast<DWORD>(capacity);
        char reader[kReaderNameSize];
        DWORD readerLength = sizeof reader;
        const LONG rv = SCardStatus(toCard(card), reader, &readerLength, &state, &protocol, atr,
                                    &atrLength);
        if (rv == SCARD_S_SUCCESS) length = atrLength;
        return pcscStatus(rv);
    }

    void introduceCardType(PcscContext, const char*, const CardType&) override {}

    Status chooseCard(PcscContext context, char* readerName, std::size_t capacity,
                      PcscCard& card) override {
        DWORD length = 0;
        LONG rv = SCardListReaders(toContext(context), nullptr, nullptr, &length);
        if (rv == SCARD_E_NO_READERS_AVAILABLE) return kPcscNoSmartcard;
        if (rv != SCARD_S_SUCCESS) return pcscStatus(rv);
        std::vector<char> names(length + 1, '\0');
        rv = SCardListReaders(toContext(context), nullptr, names.data(), &length);
        if (rv == SCARD_E_NO_READERS_AVAILABLE) return kPcscNoSmartcard;
        if (rv != SCARD_S_SUCCESS) return pcscStatus(rv);

        std::vector<SCARD_READERSTATE> states;
        for (const char* name = names.data(); *name; name += std::strlen(name) + 1) {
            SCARD_READERSTATE s{};
            s.szReader = name;
            s.dwCurrentState = SCARD_STATE_UNAWARE;
            states.push_back(s);
        }
        if (states.empty()) return kPcscNoSmartcard;
        rv = SCardGetStatusChange(toContext(context), 0, states.data(),
                                  static_cast<DWORD>(states.size()));
        if (rv != SCARD_S_SUCCESS && rv != SCARD_E_TIMEOUT) return pcscStatus(rv);

        for (const SCARD_READERSTATE& s : states) {
            if (!(s.dwEventState & SCARD_STATE_PRESENT)) continue;
            const std::size_t nameLength = std::strlen(s.szReader);
            if (nameLength >= capacity) continue;
            const Status connected = connect(static_cast<PcscContext>(context), s.szReader, card);
            if (connected != 0) return connected;
            std::memcpy(readerName, s.szReader, nameLength + 1);
            return 0;
        }
        return kPcscNoSmartcard;
    }

    Status transmit(PcscCard card, const std::uint8_t* command, std::size_t length,
                    std::size_t receiveCapacity, std::vector<std::uint8_t>& response) override {
        response.assign(receiveCapacity, 0);
        SCARD_IO_REQUEST receivePci = *SCARD_PCI_T1;
        DWORD received = static_cast<DWORD>(receiveCapacity);
        const LONG rv = SCardTransmit(toCard(card), SCARD_PCI_T1, command,
                                      static_cast<DWORD>(length), &receivePci, response.data(),
                                      &received);
        if (rv != SCARD_S_SUCCESS) {
            response.clear();
            return pcscStatus(rv);
        }
        response.resize(received < receiveCapacity ? received : receiveCapacity);
        return 0;
    }
};

}  // namespace

PcscApi& systemPcsc() {
    static PcscLite pcsc;
    return pcsc;
}

}  // namespace cardread
