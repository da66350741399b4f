// A test-only winscard.dll for Windows programs under Wine, whose own is a stub. Placed beside
// the program and chosen with WINEDLLOVERRIDES=winscard=n, it sends each call over a loopback
// TCP connection (one per process, opened on first use) to the Linux helper winscard-bridge,
// whose port WINSCARD_BRIDGE_PORT names. It covers the calls the card programs make, plus the
// reader list and SCardStatusA; everything Windows-specific about buffers (the length query,
// SCARD_AUTOALLOCATE, multi-strings) is handled here, everything pcsc-lite-specific there.
// Never shipped.

// Defines the PCI records here instead of importing them (windows.h brings winscard.h in).
#define WINSCARDDATA __declspec(dllexport)
// Winsock first: windows.h would bring the old winsock.h in otherwise.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <winscard.h>
// clang-format on

#include <cstdlib>
#include <cstring>

#include "bridge_protocol.h"

using winscardbridge::Bytes;
using winscardbridge::Op;
using winscardbridge::Reader;
using winscardbridge::Writer;

extern "C" {
const SCARD_IO_REQUEST g_rgSCardT0Pci = {SCARD_PROTOCOL_T0, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardT1Pci = {SCARD_PROTOCOL_T1, sizeof(SCARD_IO_REQUEST)};
const SCARD_IO_REQUEST g_rgSCardRawPci = {SCARD_PROTOCOL_RAW, sizeof(SCARD_IO_REQUEST)};
}

namespace {

SRWLOCK channelLock = SRWLOCK_INIT;
SOCKET channel = INVALID_SOCKET;
bool winsockStarted = false;

// Sends (send) or receives (recv) all `length` bytes over the channel.
template <typename Transfer>
bool whole(Transfer transfer, std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const int n = transfer(channel, reinterpret_cast<char*>(data), static_cast<int>(length), 0);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// Connects on first use (not in DllMain: Winsock must not start under the loader lock).
LONG openChannel() {
    if (channel != INVALID_SOCKET) return SCARD_S_SUCCESS;
    const char* portText = std::getenv("WINSCARD_BRIDGE_PORT");
    const long port = portText ? std::strtol(portText, nullptr, 10) : 0;
    if (port <= 0 || port > 65535) return SCARD_E_NO_SERVICE;
    if (!winsockStarted) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return SCARD_E_NO_SERVICE;
        winsockStarted = true;
    }
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return SCARD_E_NO_SERVICE;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return SCARD_E_NO_SERVICE;
    }
    BOOL on = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    channel = s;
    return SCARD_S_SUCCESS;
}

// One call: the request out, the reply in. `reply`, where given, gets the payload after the
// result. A lost helper is a lost service: the next call connects again.
LONG call(const Writer& request, Bytes* reply = nullptr) {
    AcquireSRWLockExclusive(&channelLock);
    LONG rv = openChannel();
    if (rv == SCARD_S_SUCCESS) {
        std::uint8_t header[4];
        std::uint32_t length = 0;
        Bytes frame = request.frame();
        bool ok = whole(send, frame.data(), frame.size()) && whole(recv, header, sizeof header);
        if (ok) {
            length = winscardbridge::frameLength(header);
            ok = length >= 4 && length <= winscardbridge::kMaxFrame;
        }
        Bytes payload(ok ? length : 0);
        ok = ok && whole(recv, payload.data(), length);
        if (ok) {
            Reader in(payload);
            rv = static_cast<LONG>(in.u32());
            if (reply) reply->assign(payload.begin() + 4, payload.end());
        } else {
            closesocket(channel);
            channel = INVALID_SOCKET;
            rv = SCARD_F_COMM_ERROR;
        }
    }
    ReleaseSRWLockExclusive(&channelLock);
    return rv;
}

// A request for `op` on a context or card handle (every operation but the first names one).
Writer request(Op op, std::uint64_t handle) {
    return Writer(static_cast<std::uint32_t>(op)).u64(handle);
}

// Hands a variable-length answer to the caller the Windows way: no buffer asks for the length;
// SCARD_AUTOALLOCATE makes `out` a pointer to a pointer that receives memory the caller frees
// with SCardFreeMemory; otherwise the buffer must be large enough.
LONG deliver(const Bytes& data, void* out, DWORD* outLength) {
    if (outLength == nullptr) return SCARD_E_INVALID_PARAMETER;
    const auto needed = static_cast<DWORD>(data.size());
    if (out == nullptr) {
        *outLength = needed;
        return SCARD_S_SUCCESS;
    }
    if (*outLength == SCARD_AUTOALLOCATE) {
        void* memory = HeapAlloc(GetProcessHeap(), 0, needed ? needed : 1);
        if (memory == nullptr) return SCARD_E_NO_MEMORY;
        if (needed) std::memcpy(memory, data.data(), needed);
        *static_cast<void**>(out) = memory;
        *outLength = needed;
        return SCARD_S_SUCCESS;
    }
    if (*outLength < needed) {
        *outLength = needed;
        return SCARD_E_INSUFFICIENT_BUFFER;
    }
    if (needed) std::memcpy(out, data.data(), needed);
    *outLength = needed;
    return SCARD_S_SUCCESS;
}

// A call whose reply is one variable-length answer, handed over as deliver() does.
LONG delivered(const Writer& w, void* out, DWORD* outLength) {
    Bytes reply;
    const LONG rv = call(w, &reply);
    return rv == SCARD_S_SUCCESS ? deliver(Reader(reply).blob(), out, outLength) : rv;
}

}  // namespace

extern "C" {

LONG WINAPI SCardEstablishContext(DWORD scope, LPCVOID, LPCVOID, LPSCARDCONTEXT context) {
    if (context == nullptr) return SCARD_E_INVALID_PARAMETER;
    Bytes reply;
    const LONG rv =
        call(Writer(static_cast<std::uint32_t>(Op::EstablishContext)).u32(scope), &reply);
    if (rv == SCARD_S_SUCCESS) *context = static_cast<SCARDCONTEXT>(Reader(reply).u64());
    return rv;
}

LONG WINAPI SCardReleaseContext(SCARDCONTEXT context) {
    return call(request(Op::ReleaseContext, context));
}

LONG WINAPI SCardIsValidContext(SCARDCONTEXT context) {
    return call(request(Op::IsValidContext, context));
}

LONG WINAPI SCardFreeMemory(SCARDCONTEXT, LPCVOID memory) {
    if (memory) HeapFree(GetProcessHeap(), 0, const_cast<LPVOID>(memory));
    return SCARD_S_SUCCESS;
}

// Reader groups are not kept apart: every group lists every reader.
LONG WINAPI SCardListReadersA(SCARDCONTEXT context, LPCSTR, LPSTR readers, LPDWORD length) {
    return delivered(request(Op::ListReaders, context), readers, length);
}

LONG WINAPI SCardConnectA(SCARDCONTEXT context, LPCSTR reader, DWORD share, DWORD protocols,
                          LPSCARDHANDLE card, LPDWORD active) {
    if (reader == nullptr || card == nullptr || active == nullptr) return SCARD_E_INVALID_PARAMETER;
    Bytes reply;
    const LONG rv = call(
        request(Op::Connect, context).blob(reader, std::strlen(reader)).u32(share).u32(protocols),
        &reply);
    if (rv == SCARD_S_SUCCESS) {
        Reader in(reply);
        *card = static_cast<SCARDHANDLE>(in.u64());
        *active = in.u32();
    }
    return rv;
}

LONG WINAPI SCardDisconnect(SCARDHANDLE card, DWORD disposition) {
    return call(request(Op::Disconnect, card).u32(disposition));
}

LONG WINAPI SCardBeginTransaction(SCARDHANDLE card) {
    return call(request(Op::BeginTransaction, card));
}

LONG WINAPI SCardEndTransaction(SCARDHANDLE card, DWORD disposition) {
    return call(request(Op::EndTransaction, card).u32(disposition));
}

LONG WINAPI SCardStatusA(SCARDHANDLE card, LPSTR readerNames, LPDWORD readerLength, LPDWORD state,
                         LPDWORD protocol, LPBYTE atr, LPDWORD atrLength) {
    Bytes reply;
    LONG rv = call(request(Op::Status, card), &reply);
    if (rv != SCARD_S_SUCCESS) return rv;
    Reader in(reply);
    const Bytes names = in.blob();
    const DWORD cardState = in.u32();
    const DWORD cardProtocol = in.u32();
    const Bytes atrBytes = in.blob();
    if (state) *state = cardState;
    if (protocol) *protocol = cardProtocol;
    if (readerLength && (rv = deliver(names, readerNames, readerLength)) != SCARD_S_SUCCESS)
        return rv;
    if (atrLength) rv = deliver(atrBytes, atr, atrLength);
    return rv;
}

LONG WINAPI SCardGetAttrib(SCARDHANDLE card, DWORD attribute, LPBYTE value, LPDWORD length) {
    return delivered(request(Op::GetAttrib, card).u32(attribute), value, length);
}

LONG WINAPI SCardTransmit(SCARDHANDLE card, LPCSCARD_IO_REQUEST sendPci, LPCBYTE command,
                          DWORD commandLength, LPSCARD_IO_REQUEST receivePci, LPBYTE response,
                          LPDWORD responseLength) {
    if (sendPci == nullptr || command == nullptr || response == nullptr ||
        responseLength == nullptr)
        return SCARD_E_INVALID_PARAMETER;
    Bytes reply;
    const LONG rv = call(request(Op::Transmit, card)
                             .u32(sendPci->dwProtocol)
                             .blob(command, commandLength)
                             .u32(*responseLength),
                         &reply);
    if (rv != SCARD_S_SUCCESS) return rv;
    Reader in(reply);
    const DWORD protocol = in.u32();
    const Bytes answer = in.blob();
    if (answer.size() > *responseLength) return SCARD_E_INSUFFICIENT_BUFFER;
    if (!answer.empty()) std::memcpy(response, answer.data(), answer.size());
    *responseLength = static_cast<DWORD>(answer.size());
    if (receivePci) receivePci->dwProtocol = protocol;
    return SCARD_S_SUCCESS;
}

LONG WINAPI SCardIntroduceCardTypeA(SCARDCONTEXT context, LPCSTR name, LPCGUID, LPCGUID, DWORD,
                                    LPCBYTE atr, LPCBYTE mask, DWORD atrLength) {
    if (name == nullptr || atr == nullptr || mask == nullptr) return SCARD_E_INVALID_PARAMETER;
    return call(request(Op::IntroduceCardType, context)
                    .blob(name, std::strlen(name))
                    .blob(atr, atrLength)
                    .blob(mask, atrLength));
}

}  // extern "C"
