// Shared pieces of the readUserData tests: the process's private pcscd, card profiles, and the
// two calls the card data program makes (size query, then read into four times the size).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "card_in_reader.h"
#include "cardread/read_user_data.h"

namespace cardtest {

using cardsim::Bytes;
using cardsim::CardKind;
using cardsim::CardProfile;
using cardsim::dataSelectedBy;
using cardsim::patternCard;

constexpr int kRemovedCard = static_cast<int>(0x80100069u);

struct ReadOutcome {
    int status = 0;
    int length = -1;  // what the call left behind ioLength
    Bytes data;       // the whole buffer (four times the reported size)
};

// The first 1000-byte slot of a read (empty if the read brought less).
inline Bytes firstRecord(const ReadOutcome& r) {
    if (r.data.size() < cardsim::kRecordSize) return {};
    return Bytes(r.data.begin(), r.data.begin() + cardsim::kRecordSize);
}

// A pattern card of `kind` with the one entry "ABCD" selecting `mask`, changed by the card
// description lines `change`.
inline CardProfile abcdCard(CardKind kind, std::uint8_t mask, const std::string& change = "") {
    return cardsim::described(patternCard(kind, {{"ABCD", mask}}), change);
}

inline int sizeQuery(const char* reader, const std::string& pin, const char* key, int& length) {
    length = 0;
    return readUserData(reader, reinterpret_cast<const unsigned char*>(pin.data()),
                        static_cast<int>(pin.size()), key, nullptr, &length);
}

// Size query, then the read into a zero-filled buffer of four times the size.
inline ReadOutcome readRecords(const char* reader, const std::string& pin, const char* key) {
    ReadOutcome out;
    out.status = sizeQuery(reader, pin, key, out.length);
    if (out.status != 0) return out;
    out.data.assign(static_cast<std::size_t>(out.length) * 4, 0);
    // A buffer of no bytes is still a buffer: a null one would make this a size query.
    std::uint8_t none = 0;
    out.status = readUserData(reader, reinterpret_cast<const unsigned char*>(pin.data()),
                              static_cast<int>(pin.size()), key,
                              out.data.empty() ? &none : out.data.data(), &out.length);
    return out;
}

class ThroughPcscd : public ::testing::Test {
  protected:
    pcsctest::PrivatePcscd& pcscd() { return pcsctest::PrivatePcscd::shared(); }
    std::string reader(int index = 0) { return pcscd().readerName(index); }
    // readRecords in the first reader.
    ReadOutcome read(const std::string& pin = "1234", const char* key = "ABCD") {
        return readRecords(reader().c_str(), pin, key);
    }

    static std::vector<Bytes> withInstruction(const std::vector<Bytes>& commands,
                                              std::uint8_t ins) {
        std::vector<Bytes> out;
        for (const Bytes& c : commands)
            if (c.size() > 1 && c[1] == ins) out.push_back(c);
        return out;
    }
    static std::vector<std::string> hexLines(const std::vector<Bytes>& commands) {
        std::vector<std::string> out;
        for (const Bytes& c : commands) out.push_back(cardsim::toHex(c));
        return out;
    }
};

}  // namespace cardtest
