// The PC/SC calls the reader session makes, one method each, so the session logic is the same
// on every platform and testable without a PC/SC service. Results are PC/SC codes (0 success).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "card_types.h"
#include "cardread/status.h"

namespace cardread {

using PcscContext = std::uintptr_t;
using PcscCard = std::uintptr_t;

constexpr std::size_t kAtrBufferSize = 64;
constexpr std::size_t kReaderNameSize = 256;  // 255 characters and NUL

class PcscApi {
  public:
    virtual ~PcscApi() = default;

    virtual Status establishContext(PcscContext& context) = 0;  // system scope
    virtual Status releaseContext(PcscContext context) = 0;
    // Shared access, T=0 or T=1.
    virtual Status connect(PcscContext context, const char* readerName, PcscCard& card) = 0;
    virtual Status disconnect(PcscCard card) = 0;  // leaves the card as it is
    virtual Status beginTransaction(PcscCard card) = 0;
    virtual Status endTransaction(PcscCard card) = 0;
    // The answer to reset into `atr` (room for `capacity`); `length` receives its size.
    virtual Status readAtr(PcscCard card, std::uint8_t* atr, std::size_t capacity,
                           std::size_t& length) = 0;
    // Registers a card type in the system's smart-card database; results do not matter.
    virtual void introduceCardType(PcscContext context, const char* name,
                                   const CardType& atrOf) = 0;
    // Lets the user pick a card (Windows: the smart-card dialog with minimal UI; elsewhere the
    // first reader holding a card). On 0 the reader's name is in `readerName` (NUL-terminated,
    // room for `capacity`) and `card` is connected.
    virtual Status chooseCard(PcscContext context, char* readerName, std::size_t capacity,
                              PcscCard& card) = 0;
    // One exchange with T=1 protocol information; see CardChannel::transmit.
    virtual Status transmit(PcscCard card, const std::uint8_t* command, std::size_t length,
                            std::size_t receiveCapacity, std::vector<std::uint8_t>& response) = 0;

    // For the support trace only, so a stand-in may keep these. The names of the readers the
    // service knows (a PC/SC code); the card's active protocol ("T=0", "T=1", "raw" or
    // "unknown"); how chooseCard picks a reader.
    virtual Status listReaders(PcscContext, std::vector<std::string>& names) {
        names.clear();
        return kStatusOk;
    }
    virtual const char* protocolOf(PcscCard) { return "unknown"; }
    virtual const char* choiceMethod() const { return "stand-in"; }
};

// The platform's PC/SC service.
PcscApi& systemPcsc();

}  // namespace cardread
