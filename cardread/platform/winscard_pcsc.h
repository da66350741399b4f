// The PC/SC calls that pcsc-lite and the Windows smart-card service take alike, written once.
// Each platform file derives from this and adds what differs: reading the ATR, the card
// database and the choice of a card. On Windows the ANSI build makes SCardConnect the
// SCardConnectA call.
#pragma once

#include <winscard.h>

#include <cstring>
#include <string>
#include <vector>

#include "../pcsc_api.h"

namespace cardread {

inline SCARDCONTEXT toContext(PcscContext c) {
    return static_cast<SCARDCONTEXT>(c);
}
inline SCARDHANDLE toCard(PcscCard c) {
    return static_cast<SCARDHANDLE>(c);
}

class WinscardPcsc : public PcscApi {
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

    Status transmit(PcscCard card, const std::uint8_t* command, std::size_t length,
                    std::size_t receiveCapacity, std::vector<std::uint8_t>& response) override {
        response.assign(receiveCapacity, 0);
        SCARD_IO_REQUEST receivePci = *SCARD_PCI_T1;
        DWORD received = static_cast<DWORD>(receiveCapacity);
        const LONG rv =
            SCardTransmit(toCard(card), SCARD_PCI_T1, command, static_cast<DWORD>(length),
                          &receivePci, response.data(), &received);
        if (rv != SCARD_S_SUCCESS) {
            response.clear();
            return pcscStatus(rv);
        }
        response.resize(received < receiveCapacity ? received : receiveCapacity);
        return kStatusOk;
    }

    Status listReaders(PcscContext context, std::vector<std::string>& names) override {
        names.clear();
        DWORD length = 0;
        LONG rv = SCardListReaders(toContext(context), nullptr, nullptr, &length);
        if (rv != SCARD_S_SUCCESS) return pcscStatus(rv);
        std::vector<char> list(length + 1, '\0');
        rv = SCardListReaders(toContext(context), nullptr, list.data(), &length);
        if (rv != SCARD_S_SUCCESS) return pcscStatus(rv);
        // Walked within what the service wrote: a list without its closing NUL ends at the
        // buffer's own.
        const std::size_t used = length < list.size() ? length : list.size() - 1;
        for (std::size_t at = 0; at < used && list[at] != '\0'; at += std::strlen(&list[at]) + 1)
            names.emplace_back(&list[at]);
        return kStatusOk;
    }

    const char* protocolOf(PcscCard card) override {
        char reader[kReaderNameSize];
        DWORD readerLength = sizeof reader;
        DWORD state = 0;
        DWORD protocol = 0;
        BYTE atr[kAtrBufferSize];
        DWORD atrLength = sizeof atr;
        if (SCardStatus(toCard(card), reader, &readerLength, &state, &protocol, atr, &atrLength) !=
            SCARD_S_SUCCESS)
            return "unknown";
        if (protocol == SCARD_PROTOCOL_T0) return "T=0";
        if (protocol == SCARD_PROTOCOL_T1) return "T=1";
        if (protocol == SCARD_PROTOCOL_RAW) return "raw";
        return "unknown";
    }
};

}  // namespace cardread
