#include "fake_pcsc.h"

#include <PCSC/winscard.h>

#include <cstring>

namespace fuzzsupport {
namespace {

ByteSource* g_source = nullptr;
FakeCard g_card;
PcscCounters g_counters;

constexpr SCARDCONTEXT kContextBase = 0x1000;
constexpr SCARDHANDLE kCardBase = 0x2000;
constexpr std::size_t kMaxCommand = 5 + 255 + 1;

ByteSource& src() {
    static ByteSource empty;
    return g_source ? *g_source : empty;
}

// A service failure, when the input asks for one.
LONG serviceAnswer() {
    if (!g_card.serviceFaults) return SCARD_S_SUCCESS;
    static const LONG kFailures[] = {SCARD_E_NO_SERVICE,     SCARD_E_NO_SMARTCARD,
                                     SCARD_W_REMOVED_CARD,   SCARD_E_SHARING_VIOLATION,
                                     SCARD_E_UNKNOWN_READER, SCARD_E_TIMEOUT,
                                     SCARD_F_INTERNAL_ERROR, SCARD_E_NO_MEMORY};
    const std::uint8_t b = src().byte();
    if (b < 0xF0) return SCARD_S_SUCCESS;
    return kFailures[(b - 0xF0u) % (sizeof kFailures / sizeof kFailures[0])];
}

// The card's answer to one command, from the input. The first byte says how it is made:
//   below F0  that many bytes follow, the whole answer
//   F0        a 16-bit length follows, then the answer (longer than any receive buffer fits)
//   F1        the transmission fails with a 32-bit PC/SC code that follows
//   F2        90 00 alone
//   F3        Le bytes (the command's fifth byte, 00 meaning 256) of one value that follows,
//             then 90 00: a well-formed answer of the asked length, cheap to write
//   F4..FF    the card is pulled: this and every later transmission fail
// An exhausted input pulls the card too.
LONG cardAnswer(const std::uint8_t* command, std::size_t length,
                std::vector<std::uint8_t>& answer) {
    if (src().empty()) return SCARD_W_REMOVED_CARD;
    const std::uint8_t how = src().byte();
    if (how < 0xF0) {
        answer.resize(how);
        src().bytes(answer.data(), how);
        return SCARD_S_SUCCESS;
    }
    switch (how) {
        case 0xF0:
            answer.resize(src().u16() % 1200);
            src().bytes(answer.data(), answer.size());
            return SCARD_S_SUCCESS;
        case 0xF1:
            return static_cast<LONG>(src().u32());
        case 0xF2:
            answer = {0x90, 0x00};
            return SCARD_S_SUCCESS;
        case 0xF3: {
            std::size_t le = length >= 5 ? command[4] : 0;
            if (le == 0) le = 256;
            answer.assign(le, src().byte());
            answer.push_back(0x90);
            answer.push_back(0x00);
            return SCARD_S_SUCCESS;
        }
        default:
            g_source = nullptr;  // nothing more comes from this card
            return SCARD_W_REMOVED_CARD;
    }
}

// Gives back one of the handles `open` counts: refused for a handle never handed out, `none`
// when none is open.
LONG giveBack(bool handedOut, int& open, LONG none) {
    if (!handedOut) return SCARD_E_INVALID_HANDLE;
    if (open <= 0) return none;
    --open;
    return SCARD_S_SUCCESS;
}

}  // namespace

void fakePcscReset(ByteSource* source, const FakeCard& card) {
    g_source = source;
    g_card = card;
    g_counters = PcscCounters{};
}

const PcscCounters& fakePcscCounters() {
    return g_counters;
}

}  // namespace fuzzsupport

using namespace fuzzsupport;

extern "C" {

const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};

LONG SCardEstablishContext(DWORD, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    if (!context) return SCARD_E_INVALID_PARAMETER;
    if (const LONG rv = serviceAnswer()) return rv;
    *context = kContextBase + static_cast<SCARDCONTEXT>(g_counters.contexts++);
    return SCARD_S_SUCCESS;
}

LONG SCardReleaseContext(SCARDCONTEXT context) {
    return giveBack(context >= kContextBase, g_counters.contexts, SCARD_E_INVALID_HANDLE);
}

LONG SCardConnect(SCARDCONTEXT context, LPCSTR reader, DWORD, DWORD, LPSCARDHANDLE card,
                  LPDWORD protocol) {
    if (context < kContextBase || !reader || !card || !protocol) return SCARD_E_INVALID_PARAMETER;
    if (std::strcmp(reader, kFuzzReaderName) != 0) return SCARD_E_UNKNOWN_READER;
    if (const LONG rv = serviceAnswer()) return rv;
    *card = kCardBase + static_cast<SCARDHANDLE>(g_counters.cards++);
    *protocol = SCARD_PROTOCOL_T1;
    return SCARD_S_SUCCESS;
}

LONG SCardDisconnect(SCARDHANDLE card, DWORD) {
    return giveBack(card >= kCardBase, g_counters.cards, SCARD_E_INVALID_HANDLE);
}

LONG SCardBeginTransaction(SCARDHANDLE card) {
    if (card < kCardBase) return SCARD_E_INVALID_HANDLE;
    const LONG rv = serviceAnswer();
    if (rv == SCARD_S_SUCCESS) ++g_counters.transactions;
    return rv;
}

LONG SCardEndTransaction(SCARDHANDLE card, DWORD) {
    return giveBack(card >= kCardBase, g_counters.transactions, SCARD_E_NOT_TRANSACTED);
}

LONG SCardStatus(SCARDHANDLE card, LPSTR readerName, LPDWORD readerLength, LPDWORD state,
                 LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
    if (card < kCardBase) return SCARD_E_INVALID_HANDLE;
    if (const LONG rv = serviceAnswer()) return rv;
    if (readerLength) {
        const DWORD needed = sizeof kFuzzReaderName;
        if (readerName && *readerLength < needed) return SCARD_E_INSUFFICIENT_BUFFER;
        if (readerName) std::memcpy(readerName, kFuzzReaderName, needed);
        *readerLength = needed;
    }
    if (state) *state = SCARD_PRESENT | SCARD_POWERED;
    if (protocol) *protocol = SCARD_PROTOCOL_T1;
    if (atrLength) {
        const DWORD size = static_cast<DWORD>(g_card.atr.size());
        if (atr && *atrLength < size && !g_card.atrLengthLies) return SCARD_E_INSUFFICIENT_BUFFER;
        if (atr) std::memcpy(atr, g_card.atr.data(), size < *atrLength ? size : *atrLength);
        *atrLength = size;
    }
    return SCARD_S_SUCCESS;
}

LONG SCardListReaders(SCARDCONTEXT context, LPCSTR, LPSTR readers, LPDWORD length) {
    if (context < kContextBase || !length) return SCARD_E_INVALID_PARAMETER;
    if (const LONG rv = serviceAnswer()) return rv;
    const DWORD needed = sizeof kFuzzReaderName + 1;  // the list ends with an empty name
    if (readers) {
        if (*length < needed) return SCARD_E_INSUFFICIENT_BUFFER;
        std::memcpy(readers, kFuzzReaderName, sizeof kFuzzReaderName);
        readers[sizeof kFuzzReaderName] = '\0';
    }
    *length = needed;
    return SCARD_S_SUCCESS;
}

LONG SCardGetStatusChange(SCARDCONTEXT context, DWORD, SCARD_READERSTATE* states, DWORD count) {
    if (context < kContextBase) return SCARD_E_INVALID_HANDLE;
    if (const LONG rv = serviceAnswer()) return rv;
    for (DWORD i = 0; i < count; ++i) {
        const bool ours = std::strcmp(states[i].szReader, kFuzzReaderName) == 0;
        states[i].dwEventState = ours ? SCARD_STATE_PRESENT : SCARD_STATE_EMPTY;
    }
    return SCARD_S_SUCCESS;
}

LONG SCardTransmit(SCARDHANDLE card, const SCARD_IO_REQUEST* sendPci, LPCBYTE command,
                   DWORD commandLength, SCARD_IO_REQUEST* receivePci, LPBYTE answer,
                   LPDWORD answerLength) {
    if (card < kCardBase || !sendPci || !command || !answer || !answerLength)
        return SCARD_E_INVALID_PARAMETER;
    if (commandLength < 4 || commandLength > kMaxCommand) return SCARD_E_INVALID_PARAMETER;
    touch(command, commandLength);
    ++g_counters.commands;
    if (command[1] == 0x20) ++g_counters.verifyCommands;

    std::vector<std::uint8_t> reply;
    const LONG rv = cardAnswer(command, commandLength, reply);
    if (rv != SCARD_S_SUCCESS) return rv;
    if (reply.size() > *answerLength) {
        *answerLength = static_cast<DWORD>(reply.size());
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (!reply.empty()) std::memcpy(answer, reply.data(), reply.size());
    *answerLength = static_cast<DWORD>(reply.size());
    if (receivePci) *receivePci = *sendPci;
    return SCARD_S_SUCCESS;
}

}  // extern "C"
