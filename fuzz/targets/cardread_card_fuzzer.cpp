// The card side of the card reader library: readUserData as carddata calls it (a size query,
// then the read), with recognition, both read procedures, the protected VERIFY, the card
// authentication and the index search, all over the platform's PC/SC file linked against an
// in-process service whose card answers from the fuzz input.
//
// Input: a flags byte (bit 0: a named reader, else the reader is chosen; bit 1: size query
// only; bit 2: the service itself fails on request), a PIN length and the PIN, four record key
// bytes, a capacity selector, an ATR selector (0 main kind, 1 STARCOS kind, 2 a raw ATR of an
// input length, 3 a raw ATR whose length the service misreports, else a recognised card of a
// kind not read), then one answer per command as fake_pcsc.cpp describes.
//
// Beyond the sanitizers (the data buffer is exactly the capacity passed), a run fails when a
// call leaves a context, card connection or transaction open, a size query sends a VERIFY, a
// success reports a size that is not whole records or exceeds the capacity.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "cardread/read_user_data.h"
#include "fake_pcsc.h"
#include "oracle.h"

const char* const fuzzsupport::kFuzzerName = "cardread fuzzer";

namespace {

using fuzzsupport::ByteSource;
using fuzzsupport::FakeCard;
using fuzzsupport::require;

// ATRs of the main kind, the STARCOS kind, and a recognised card of a kind not read.
const std::vector<std::uint8_t> kAtrs[] = {
    {0x3B, 0xB8, 0x13, 0x00, 0x81, 0x31, 0xFA, 0x52, 'V', 'E', 'K', 'L', 'U', 'N', 'D', 'A', 0x00},
    {0x3B, 0xB7, 0x94, 0x00, 0x81, 0x31, 0xFE, 0x65, 0x53, 0x50, 0x4B, 0x32, 0x33, 0x90, 0x00,
     0xD1},
    {0x3B, 0xF6, 0x18, 0x00, 0xFF, 0x81, 0x31, 0xFE, 0x45, 0x4A, 0x43, 0x4F, 0x50, 0x32, 0x30,
     0x0E}};

FakeCard cardFrom(ByteSource& in, std::uint8_t flags) {
    FakeCard card;
    card.serviceFaults = (flags & 4) != 0;
    const std::uint8_t kind = in.byte();
    if (kind == 2 || kind == 3) {
        card.atr.resize(in.byte() % 72);
        in.bytes(card.atr.data(), card.atr.size());
        card.atrLengthLies = kind == 3;
    } else {
        card.atr = kAtrs[kind < 2 ? kind : 2];
    }
    return card;
}

// One call, checked for what it must give back and what it may report.
int call(const char* reader, const std::uint8_t* pin, int pinLength, const char* key,
         std::uint8_t* buffer, int* length) {
    const int rv = readUserData(reader, pin, pinLength, key, buffer, length);
    if (fuzzsupport::tracing()) {
        std::fprintf(stderr, "readUserData(%s) = 0x%X, length %d, %d commands\n",
                     buffer ? "read" : "size", static_cast<unsigned>(rv), *length,
                     fuzzsupport::fakePcscCounters().commands);
    }
    const fuzzsupport::PcscCounters& c = fuzzsupport::fakePcscCounters();
    require(c.contexts == 0, "a PC/SC context left open");
    require(c.cards == 0, "a card connection left open");
    require(c.transactions == 0, "a transaction left open");
    return rv;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteSource in(data, size);
    const std::uint8_t flags = in.byte();
    std::uint8_t pin[24];
    const int pinLength = in.byte() % 21;
    in.bytes(pin, static_cast<std::size_t>(pinLength));
    char key[5] = {};
    in.bytes(key, 4);
    const std::uint8_t capacitySelector = in.byte();
    const FakeCard card = cardFrom(in, flags);
    const char* reader = (flags & 1) ? fuzzsupport::kFuzzReaderName : nullptr;

    fuzzsupport::fakePcscReset(&in, card);
    int length = 0;
    int rv = call(reader, pin, pinLength, key, nullptr, &length);
    require(fuzzsupport::fakePcscCounters().verifyCommands == 0, "size query sent a VERIFY");
    if (rv == 0) require(length >= 0 && length <= 6000 && length % 1000 == 0, "odd data size");
    if (rv != 0 || (flags & 2)) {
        fuzzsupport::fakePcscReset(nullptr, FakeCard{});
        return 0;
    }

    // The capacity is four times the size as carddata passes it, or an input-chosen one, so
    // that too small buffers are tried as well.
    const std::size_t capacity =
        capacitySelector < 0x80 ? 4 * static_cast<std::size_t>(length) : capacitySelector * 40u;
    std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[capacity ? capacity : 1]);
    int io = static_cast<int>(capacity);
    rv = call(reader, pin, pinLength, key, buffer.get(), &io);
    if (rv == 0) {
        require(io >= 0 && io % 1000 == 0 && static_cast<std::size_t>(io) <= capacity,
                "read reports a size beyond the capacity");
    } else {
        require(io == static_cast<int>(capacity), "a failed read changed the length");
    }
    fuzzsupport::fakePcscReset(nullptr, FakeCard{});
    return 0;
}
