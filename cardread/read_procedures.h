// The two read procedures: look the record key up in the card's index, answer a size query,
// or verify the PIN and copy the selected data records into the caller's buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "card_channel.h"
#include "key_store.h"

namespace cardread {

// The caller's arguments of one read, as readUserData received them.
struct ReadRequest {
    const std::uint8_t* pin;
    int pinLength;
    const char* recordKey;
    std::uint8_t* outBuffer;  // null: size query
    int* ioLength;            // capacity on entry to a read; the data size on success
};

// Main card kind: proprietary family, protected VERIFY under key B, card authentication with
// `authKey`. 0 or a status.
Status readMainCard(CardChannel& channel, const KeyStore& keys, const std::uint8_t* authKey,
                    std::size_t authKeyLength, const ReadRequest& request);

// STARCOS kind: ISO family, plain VERIFY in the PKCS#15 application. 0 or a status.
Status readStarcosCard(CardChannel& channel, const ReadRequest& request);

}  // namespace cardread
