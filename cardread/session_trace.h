// The support trace of readUserData: per call, which readers the service knows and which one
// was taken and how, the card's ATR and the type and kind it matched, the protocol, each
// command's header with its status word and time, and the call's result and time. Lengths,
// headers and status words only: never the data of a command or an answer (PIN block, secure
// messaging, challenge, MAC, record), never a key. Each function returns at once while the
// trace is off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "card_types.h"
#include "pcsc_api.h"

namespace cardread {
namespace sessiontrace {

// The reader step: the context's result, the service's reader list, the reader asked for
// (null: chosen by the platform) and the result of connecting to it or choosing one.
void readerStep(PcscApi& pcsc, Status contextRv, PcscContext context, const char* requested,
                const char* reader, Status rv);

// Recognition: the result of taking the card and reading its ATR, the ATR and the card type it
// matched (or none).
void recognition(const char* reader, Status rv, const std::uint8_t* atr, std::size_t atrLength);

// The read session: its ATR, the kind the library reads it as, and the active protocol.
void session(PcscApi& pcsc, PcscCard card, const std::uint8_t* atr, std::size_t atrLength,
             CardKind kind);

// One command exchange; its time is also added to the card wait. `rv` is the transmit result.
void command(const std::uint8_t* apdu, std::size_t length, Status rv,
             const std::vector<std::uint8_t>& response, double ms);

// The end of one readUserData call.
void callEnd(bool sizeQuery, int rv, double ms, double cardMs);

}  // namespace sessiontrace
}  // namespace cardread
