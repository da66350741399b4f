// PC/SC through the Windows smart-card service, with its card database and card dialog.
#include <windows.h>
#include <winscard.h>

#include <cstring>
#include <vector>

#include "../pcsc_api.h"

namespace cardread {
namespace {

// "請選擇 IC 卡" in code page 950, the dialog's title.
constexpr char kDialogTitle[] = "\xBD\xD0\xBF\xEF\xBE\xDC IC \xA5\x64";

SCARDCONTEXT toContext(PcscContext c) { return static_cast<SCARDCONTEXT>(c); }
SCARDHANDLE toCard(PcscCard c) { return static_cast<SCARDHANDLE>(c); }

class WinScard : public PcscApi {
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
        const LONG rv = SCardConnectA(toContext(context), readerName, SCARD_SHARE_SHARED,
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
        DWORD atrLength = static_cast<DWORD>(capacity);
        const LONG rv = SCardGetAttrib(toCard(card), SCARD_ATTR_ATR_STRING, atr, &atrLength);
        if (rv == SCARD_S_SUCCESS) length = atrLength;
        return pcscStatus(rv);
    }

    void introduceCardType(PcscContext context, const char* name,
                           const CardType& atrOf) override {
        // Already registered, or no right to write the database: either way nothing changes.
        SCardIntroduceCardTypeA(toContext(context), name, nullptr, nullptr, 0, atrOf.atr,
                                atrOf.mask, static_cast<DWORD>(atrOf.length));
    }

    Status chooseCard(PcscContext context, char* readerName, std::size_t capacity,
                      PcscCard& card) override {
        char reader[kReaderNameSize] = {};
        char cardName[kReaderNameSize] = {};
        OPENCARDNAMEA dialog{};
        dialog.dwStructSize = sizeof dialog;
        dialog.hSCardContext = toContext(context);
        dialog.hwndOwner = nullptr;
        dialog.nMaxCardNames = kReaderNameSize;
        dialog.lpstrRdr = reader;
        dialog.nMaxRdr = kReaderNameSize;
        dialog.lpstrCard = cardName;
        dialog.nMaxCard = kReaderNameSize;
        dialog.lpstrTitle = kDialogTitle;
        dialog.dwFlags = SC_DLG_MINIMAL_UI;
        dialog.dwShareMode = SCARD_SHARE_SHARED;
        dialog.dwPreferredProtocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
        const LONG rv = GetOpenCardNameA(&dialog);
        if (rv != SCARD_S_SUCCESS) return pcscStatus(rv);
        reader[kReaderNameSize - 1] = '\0';
        const std::size_t length = std::strlen(reader);
        if (length >= capacity) {
            SCardDisconnect(dialog.hCardHandle, SCARD_LEAVE_CARD);
            return pcscStatus(SCARD_E_INSUFFICIENT_BUFFER);
        }
        std::memcpy(readerName, reader, length + 1);
        card = static_cast<PcscCard>(dialog.hCardHandle);
        return 0;
    }

    Status transmit(PcscCard card, const std::uint8_t* command, std::size_t length,
                    std::size_t receiveCapacity, std::vector<std::uint8_t>& response) override {
        response.assign(receiveCapacity, 0);
        SCARD_IO_REQUEST receivePci = g_rgSCardT1Pci;
        DWORD received = static_cast<DWORD>(receiveCapacity);
        const LONG rv = SCardTransmit(toCard(card), &g_rgSCardT1Pci, command,
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
    static WinScard pcsc;
    return pcsc;
}

}  // namespace cardread
