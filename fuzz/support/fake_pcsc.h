// A PC/SC service in the fuzzer's own process, standing in for pcsc-lite at the library's
// platform layer: the real platform file (pcsc_linux.cpp) is linked against these functions, so
// every line of the card code runs. One reader, "Fuzz Reader 00 00", holds a card whose ATR and
// answers come from the fuzz input; when the input runs out the card is gone.
//
// It behaves as pcsc-lite does where the library relies on it (an answer larger than the
// receive buffer fails with SCARD_E_INSUFFICIENT_BUFFER and writes nothing) and counts what is
// opened, so a fuzzer can check that every call gives back what it took.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "byte_source.h"

namespace fuzzsupport {

constexpr const char kFuzzReaderName[] = "Fuzz Reader 00 00";

struct FakeCard {
    std::vector<std::uint8_t> atr;
    // Report success for an ATR longer than the caller's buffer (writing only what fits).
    bool atrLengthLies = false;
    // Non-transmit calls take a byte each and fail on 0xF0 and above.
    bool serviceFaults = false;
};

struct PcscCounters {
    int contexts = 0;
    int cards = 0;
    int transactions = 0;
    int verifyCommands = 0;  // commands with INS 20 (VERIFY)
    int commands = 0;
};

void fakePcscReset(ByteSource* source, const FakeCard& card);
const PcscCounters& fakePcscCounters();

}  // namespace fuzzsupport
