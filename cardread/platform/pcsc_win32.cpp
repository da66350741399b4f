// PC/SC through the Windows smart-card service, with its card database and card dialog.
#include <windows.h>
#include <winscard.h>

#include <cstring>
#include <vector>

#include "winscard_pcsc.h"

namespace cardread {
namespace {

// "請選擇 IC 卡" in code page 950, the dialog's title.
constexpr char kDialogTitle[] = "\xBD\xD0\xBF\xEF\xBE\xDC IC \xA5\x64";

class WinScard : public WinscardPcsc {
  public:
    Status readAtr(PcscCard card, std::uint8_t* atr, std::size_t capacity,
                   std::size_t& length) override {
        DWORD atrLength = static_cast<DWORD>(capacity);
        const LONG rv = SCardGetAttrib(toCard(card), SCARD_ATTR_ATR_STRING, atr, &atrLength);
        if (rv == SCARD_S_SUCCESS) length = atrLength;
        return pcscStatus(rv);
    }

    void introduceCardType(PcscContext context, const char* name, const CardType& atrOf) override {
        // Already registered, or no right to write the database: either way nothing changes.
        SCardIntroduceCardTypeA(toContext(context), name, nullptr, nullptr, 0, atrOf.atr,
                                atrOf.mask, static_cast<DWORD>(atrOf.length));
    }

    const char* choiceMethod() const override { return "dialog"; }

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
        return kStatusOk;
    }
};

}  // namespace

PcscApi& systemPcsc() {
    static WinScard pcsc;
    return pcsc;
}

}  // namespace cardread
