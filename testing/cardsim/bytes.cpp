#include "bytes.h"

#include "common/hex.h"

namespace cardsim {

std::string toHex(const Bytes& bytes) {
    return common::toHex(bytes.data(), bytes.size());
}

std::optional<Bytes> fromHex(const std::string& text) {
    return common::fromHex(text);
}

void appendStatus(Bytes& response, std::uint16_t sw) {
    response.push_back(static_cast<std::uint8_t>(sw >> 8));
    response.push_back(static_cast<std::uint8_t>(sw & 0xFF));
}

}  // namespace cardsim
