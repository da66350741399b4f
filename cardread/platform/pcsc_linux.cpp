// PC/SC through pcsc-lite. Where it has no counterpart of the Windows service: no smart-card
// database to register card types in, and no card dialog (the first reader holding a card is
// chosen). The ATR comes from SCardStatus, which every reader driver answers.
#include <PCSC/winscard.h>
#include <PCSC/wintypes.h>

#include <cstring>
#include <vector>

#include "winscard_pcsc.h"

namespace cardread {
namespace {

class PcscLite : public WinscardPcsc {
  public:
    Status readAtr(PcscCard card, std::uint8_t* atr, std::size_t capacity,
                   std::size_t& length) override {
        DWORD state = 0;
        DWORD protocol = 0;
        DWORD atrLength = static_cast<DWORD>(capacity);
        char reader[kReaderNameSize];
        DWORD readerLength = sizeof reader;
        const LONG rv =
            SCardStatus(toCard(card), reader, &readerLength, &state, &protocol, atr, &atrLength);
        if (rv == SCARD_S_SUCCESS) length = atrLength;
        return pcscStatus(rv);
    }

    void introduceCardType(PcscContext, const char*, const CardType&) override {}

    const char* choiceMethod() const override { return "first reader with a card"; }

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
            const Status connected = connect(context, s.szReader, card);
            if (connected != kStatusOk) return connected;
            std::memcpy(readerName, s.szReader, nameLength + 1);
            return kStatusOk;
        }
        return kPcscNoSmartcard;
    }
};

}  // namespace

PcscApi& systemPcsc() {
    static PcscLite pcsc;
    return pcsc;
}

}  // namespace cardread
