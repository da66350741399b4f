// winscard-bridge: the Linux end of the test-only winscard.dll. It listens on a loopback port,
// takes one connection per Windows process and makes that process's PC/SC calls with pcsc-lite
// (whose daemon PCSCLITE_CSOCK_NAME names), translating what differs between the two: 64-bit
// DWORD and LONG here, the raw protocol bit, the card state (bit flags here, a number on
// Windows), and the ATR attribute, which the vpcd driver does not answer but SCardStatus does.
//
//   winscard-bridge --port-file FILE [--lifetime SECONDS] [--trace FILE]
//   winscard-bridge --wait-card READER | --wait-empty READER
//
// Writes the port to FILE once it listens; exits after the lifetime (default 600 s) at the
// latest, so a test that dies cannot leave it behind for long. The wait forms return once the
// daemon reports the reader holding a card, or empty (status 0), or after 10 s (status 1): a
// test script inserts or pulls a simulated card with them before its next step.
#include <PCSC/reader.h>
#include <PCSC/winscard.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "bridge_protocol.h"

namespace winscardbridge {
namespace {

std::mutex traceMutex;
std::ofstream traceFile;

void trace(const std::string& line) {
    std::lock_guard<std::mutex> lock(traceMutex);
    if (traceFile.is_open()) traceFile << line << std::endl;
}

std::string hex32(std::uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

// The calls as the trace names them, by operation code; the frequent validity check stays out.
// clang-format off
const char* const kTracedCalls[] = {
    nullptr, "SCardEstablishContext", "SCardReleaseContext", nullptr, "SCardListReaders",
    "SCardConnect", "SCardDisconnect", "SCardBeginTransaction", "SCardEndTransaction",
    "SCardStatus", "SCardGetAttrib", "SCardTransmit", "SCardIntroduceCardType"};
// clang-format on

DWORD toPcscProtocols(std::uint32_t windows) {
    if (windows == kWinProtocolDefault) return SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;
    DWORD p = windows & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1);
    if (windows & kWinProtocolRaw) p |= SCARD_PROTOCOL_RAW;
    return p;
}

std::uint32_t toWinProtocols(DWORD pcsc) {
    std::uint32_t p = static_cast<std::uint32_t>(pcsc & (SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1));
    if (pcsc & SCARD_PROTOCOL_RAW) p |= kWinProtocolRaw;
    return p;
}

// pcsc-lite reports the card state as flags; Windows as the number of the highest state reached
// (SCARD_ABSENT 1 ... SCARD_SPECIFIC 6).
std::uint32_t toWinState(DWORD flags) {
    const DWORD order[] = {SCARD_ABSENT,  SCARD_PRESENT,    SCARD_SWALLOWED,
                           SCARD_POWERED, SCARD_NEGOTIABLE, SCARD_SPECIFIC};
    std::uint32_t state = 0;
    for (std::uint32_t i = 0; i < 6; ++i)
        if (flags & order[i]) state = i + 1;
    return state;
}

// A pcsc-lite call that answers into a buffer of the length it reports: asked for that length
// first. The reply gets the answer, or nothing on failure.
template <typename Call>
LONG sized(Writer& out, Call call) {
    DWORD length = 0;
    LONG rv = call(nullptr, &length);
    Bytes answer(length);
    if (rv == SCARD_S_SUCCESS) rv = call(answer.data(), &length);
    answer.resize(rv == SCARD_S_SUCCESS ? length : 0);
    out.blob(answer);
    return rv;
}

// Receives (recv) or sends (send, with MSG_NOSIGNAL: a peer gone is an error, not a signal) all
// `length` bytes.
template <typename Transfer>
bool whole(Transfer transfer, int flags, int fd, std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        const ssize_t n = transfer(fd, data, length, flags);
        if (n <= 0) return false;
        data += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

// One Windows process: its contexts are released when it goes away without doing so.
class Connection {
  public:
    explicit Connection(int fd) : fd_(fd) {}
    ~Connection() {
        for (SCARDCONTEXT c : contexts_) SCardReleaseContext(c);
        close(fd_);
    }

    void serve() {
        std::uint8_t header[4];
        while (whole(recv, 0, fd_, header, sizeof header)) {
            const std::uint32_t length = frameLength(header);
            if (length > kMaxFrame) return;
            Bytes payload(length);
            if (!whole(recv, 0, fd_, payload.data(), length)) return;
            Reader in(payload);
            const auto op = in.u32();
            Writer out(0);
            std::string detail;
            // pcsc-lite's LONG results carry the Windows code in their low 32 bits.
            const auto rv =
                static_cast<std::uint32_t>(perform(static_cast<Op>(op), in, out, detail));
            if (op < std::size(kTracedCalls) && kTracedCalls[op] != nullptr)
                trace(kTracedCalls[op] + detail + " -> " + hex32(rv));
            if (!in.ok()) return;
            out.setFirst(rv);
            Bytes frame = out.frame();
            if (!whole(send, MSG_NOSIGNAL, fd_, frame.data(), frame.size())) return;
        }
    }

  private:
    // Reads the operation's fields, makes the call and writes the reply's fields; `detail` gets
    // what tells the call apart in the trace.
    LONG perform(Op op, Reader& in, Writer& out, std::string& detail) {
        switch (op) {
            case Op::EstablishContext: {
                SCARDCONTEXT context = 0;
                const LONG rv = SCardEstablishContext(in.u32(), nullptr, nullptr, &context);
                if (rv == SCARD_S_SUCCESS) contexts_.insert(context);
                out.u64(static_cast<std::uint64_t>(context));
                return rv;
            }
            case Op::ReleaseContext: {
                const auto context = static_cast<SCARDCONTEXT>(in.u64());
                contexts_.erase(context);
                return SCardReleaseContext(context);
            }
            case Op::IsValidContext:
                return SCardIsValidContext(static_cast<SCARDCONTEXT>(in.u64()));
            case Op::ListReaders: {
                const auto context = static_cast<SCARDCONTEXT>(in.u64());
                return sized(out, [&](std::uint8_t* buffer, DWORD* length) {
                    return SCardListReaders(context, nullptr, reinterpret_cast<char*>(buffer),
                                            length);
                });
            }
            case Op::Connect: {
                const auto context = static_cast<SCARDCONTEXT>(in.u64());
                const std::string reader = in.text();
                const DWORD share = in.u32();
                const DWORD protocols = toPcscProtocols(in.u32());
                SCARDHANDLE card = 0;
                DWORD active = 0;
                const LONG rv =
                    SCardConnect(context, reader.c_str(), share, protocols, &card, &active);
                out.u64(static_cast<std::uint64_t>(card)).u32(toWinProtocols(active));
                detail = " " + reader;
                return rv;
            }
            case Op::Disconnect:
            case Op::EndTransaction: {
                const auto card = static_cast<SCARDHANDLE>(in.u64());
                const DWORD disposition = in.u32();
                return op == Op::Disconnect ? SCardDisconnect(card, disposition)
                                            : SCardEndTransaction(card, disposition);
            }
            case Op::BeginTransaction:
                return SCardBeginTransaction(static_cast<SCARDHANDLE>(in.u64()));
            case Op::Status: {
                Bytes reader, atr;
                DWORD state = 0, protocol = 0;
                const LONG rv =
                    status(static_cast<SCARDHANDLE>(in.u64()), reader, state, protocol, atr);
                out.blob(reader).u32(toWinState(state)).u32(toWinProtocols(protocol)).blob(atr);
                return rv;
            }
            case Op::GetAttrib: {
                const auto card = static_cast<SCARDHANDLE>(in.u64());
                const DWORD attribute = in.u32();
                detail = " " + hex32(static_cast<std::uint32_t>(attribute));
                if (attribute != SCARD_ATTR_ATR_STRING) {
                    return sized(out, [&](std::uint8_t* buffer, DWORD* length) {
                        return SCardGetAttrib(card, attribute, buffer, length);
                    });
                }
                Bytes reader, atr;
                DWORD state = 0, protocol = 0;
                const LONG rv = status(card, reader, state, protocol, atr);
                out.blob(atr);
                return rv;
            }
            case Op::Transmit: {
                const auto card = static_cast<SCARDHANDLE>(in.u64());
                const DWORD protocol = toPcscProtocols(in.u32());
                const Bytes command = in.blob();
                const std::uint32_t capacity = in.u32();
                SCARD_IO_REQUEST sendPci{protocol, sizeof(SCARD_IO_REQUEST)};
                SCARD_IO_REQUEST receivePci{protocol, sizeof(SCARD_IO_REQUEST)};
                Bytes response(capacity < MAX_BUFFER_SIZE_EXTENDED ? capacity
                                                                   : MAX_BUFFER_SIZE_EXTENDED);
                DWORD received = static_cast<DWORD>(response.size());
                const LONG rv = SCardTransmit(card, &sendPci, command.data(), command.size(),
                                              &receivePci, response.data(), &received);
                response.resize(rv == SCARD_S_SUCCESS ? received : 0);
                out.u32(toWinProtocols(receivePci.dwProtocol)).blob(response);
                return rv;
            }
            case Op::IntroduceCardType: {
                // pcsc-lite keeps no card database: the names are only recorded, and the call
                // succeeds on a valid context as a Windows one with write rights would.
                const auto context = static_cast<SCARDCONTEXT>(in.u64());
                detail = " " + in.text();
                in.blob();
                in.blob();
                return SCardIsValidContext(context);
            }
        }
        trace("unknown operation " + hex32(static_cast<std::uint32_t>(op)));
        return SCARD_E_UNSUPPORTED_FEATURE;
    }

    // The reader name as a Windows multi-string (one more NUL) and the ATR.
    static LONG status(SCARDHANDLE card, Bytes& reader, DWORD& state, DWORD& protocol, Bytes& atr) {
        char name[MAX_READERNAME + 1] = {};
        DWORD nameLength = sizeof name;
        std::uint8_t atrBytes[MAX_ATR_SIZE];
        DWORD atrLength = sizeof atrBytes;
        const LONG rv =
            SCardStatus(card, name, &nameLength, &state, &protocol, atrBytes, &atrLength);
        if (rv != SCARD_S_SUCCESS) return rv;
        const std::size_t n = strnlen(name, sizeof name);
        reader.assign(name, name + n);
        reader.push_back(0);
        reader.push_back(0);
        atr.assign(atrBytes, atrBytes + atrLength);
        return rv;
    }

    int fd_;
    std::set<SCARDCONTEXT> contexts_;
};

int waitForReader(const std::string& reader, bool card) {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS)
        return 1;
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 1;
    while (std::chrono::steady_clock::now() < end) {
        const LONG rv = SCardGetStatusChange(context, 500, &state, 1);
        if (rv == SCARD_S_SUCCESS) {
            if (((state.dwEventState & SCARD_STATE_PRESENT) != 0) == card) {
                status = 0;
                break;
            }
            state.dwCurrentState = state.dwEventState;
        } else if (rv != SCARD_E_TIMEOUT) {
            // The reader is not (yet) known to the daemon: ask again shortly.
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            state.dwCurrentState = SCARD_STATE_UNAWARE;
        }
    }
    SCardReleaseContext(context);
    return status;
}

int usage(const char* error) {
    if (error) std::cerr << "winscard-bridge: " << error << "\n";
    std::cerr << "usage: winscard-bridge --port-file FILE [--lifetime SECONDS] [--trace FILE]\n"
                 "       winscard-bridge --wait-card READER | --wait-empty READER\n";
    return 2;
}

}  // namespace
}  // namespace winscardbridge

int main(int argc, char** argv) {
    using namespace winscardbridge;
    std::string portFile, traceName;
    long lifetime = 600;
    if (argc == 3 &&
        (std::strcmp(argv[1], "--wait-card") == 0 || std::strcmp(argv[1], "--wait-empty") == 0))
        return waitForReader(argv[2], std::strcmp(argv[1], "--wait-card") == 0);
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--port-file")
            portFile = argv[i + 1];
        else if (name == "--lifetime")
            lifetime = std::strtol(argv[i + 1], nullptr, 10);
        else if (name == "--trace")
            traceName = argv[i + 1];
        else
            return usage(("unknown option " + name).c_str());
    }
    if (argc % 2 == 0 || portFile.empty() || lifetime <= 0) return usage(nullptr);
    if (!traceName.empty()) traceFile.open(traceName, std::ios::app);

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener, 16) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        std::perror("winscard-bridge: listen");
        return 1;
    }
    // Written whole under another name first, so a reader never sees half a number.
    {
        std::ofstream out(portFile + ".part");
        out << ntohs(address.sin_port) << "\n";
    }
    if (std::rename((portFile + ".part").c_str(), portFile.c_str()) != 0) {
        std::perror("winscard-bridge: port file");
        return 1;
    }

    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(lifetime);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{listener, POLLIN, 0};
        if (poll(&p, 1, 200) <= 0) continue;
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::thread([fd] { Connection(fd).serve(); }).detach();
    }
    trace("lifetime over");
    // Connections still open belong to programs that outlived the test; end without them.
    std::_Exit(0);
}
