#include "secure_messaging.h"

#include <cstring>

#include "common/secret.h"
#include "random_source.h"
#include "status_word.h"

namespace cardread {
namespace {

constexpr std::size_t kMaxLc = 255;

bool protectedClass(std::uint8_t cla) {
    return (cla & (kClassMac | kClassEncipher)) != 0;
}

// Compares without an early exit, so the time taken says nothing about where a MAC differs.
bool sameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < n; ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

Status wrapCommand(std::uint8_t* command, std::size_t& length, std::size_t capacity,
                   const std::uint8_t macKey[kTripleDesKeySize],
                   const std::uint8_t encKey[kTripleDesKeySize]) {
    if (length < kApduHeaderSize) return kStatusSecureMessaging;
    const std::uint8_t cla = command[0];
    if (!protectedClass(cla)) return kStatusOk;

    const std::size_t dataLength = command[4];
    if (length != kApduHeaderSize + dataLength) return kStatusSecureMessaging;

    // Worst case body: data, MAC, and a full padding block.
    std::size_t body = dataLength + ((cla & kClassMac) ? kDesBlockSize : 0);
    if (cla & kClassEncipher) body = (body / kDesBlockSize + 1) * kDesBlockSize;
    const std::size_t lc = kDesBlockSize + body;
    if (lc > kMaxLc || kApduHeaderSize + lc > capacity) return kStatusSecureMessaging;

    std::uint8_t* r = command + kApduHeaderSize;
    std::uint8_t* data = r + kDesBlockSize;
    std::memmove(data, r, dataLength);
    if (!fillRandom(r, kDesBlockSize)) {
        common::wipeBytes(command, capacity);
        return kStatusSecureMessaging;
    }

    std::size_t bodyLength = dataLength;
    if (cla & kClassMac) {
        cbcMac(r, data, dataLength, macKey, data + dataLength);
        bodyLength += kDesBlockSize;
    }
    if (cla & kClassEncipher) cbcEncryptPadded(r, data, bodyLength, encKey);

    command[4] = static_cast<std::uint8_t>(kDesBlockSize + bodyLength);
    length = kApduHeaderSize + kDesBlockSize + bodyLength;
    return kStatusOk;
}

Status unwrapResponse(std::vector<std::uint8_t>& response, std::uint8_t classByte,
                      const std::uint8_t macKey[kTripleDesKeySize],
                      const std::uint8_t encKey[kTripleDesKeySize]) {
    if (!protectedClass(classByte)) return kStatusOk;
    if (response.size() < kDesBlockSize + kStatusWordSize) return kStatusSecureMessaging;

    const std::uint8_t sw1 = response[response.size() - 2];
    const std::uint8_t sw2 = response[response.size() - 1];
    std::uint8_t r[kDesBlockSize];
    std::memcpy(r, response.data(), kDesBlockSize);
    std::uint8_t* body = response.data() + kDesBlockSize;
    std::size_t bodyLength = response.size() - kDesBlockSize - kStatusWordSize;

    if (classByte & kClassEncipher) {
        if (bodyLength == 0 || !cbcDecrypt(r, body, bodyLength, encKey)) {
            return kStatusSecureMessaging;
        }
        // A pad count beyond the deciphered bytes would point outside the response.
        const std::size_t pad = body[bodyLength - 1];
        if (pad > bodyLength) return kStatusSecureMessaging;
        bodyLength -= pad;
    }
    if (classByte & kClassMac) {
        if (bodyLength < kDesBlockSize) return kStatusSecureMessaging;
        bodyLength -= kDesBlockSize;
        std::uint8_t mac[kDesBlockSize];
        cbcMac(r, body, bodyLength, macKey, mac);
        if (!sameBytes(mac, body + bodyLength, kDesBlockSize)) return kStatusSecureMessaging;
    }

    std::memmove(response.data(), body, bodyLength);
    response.resize(bodyLength);
    response.push_back(sw1);
    response.push_back(sw2);
    return kStatusOk;
}

}  // namespace cardread
