// Helpers shared by the unit tests: hex literals, OpenSSL as the independent cipher, and a
// scripted card channel whose script must be consumed exactly.
#pragma once

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "card_channel.h"
#include "common/hex.h"

namespace cardtest {

using Bytes = std::vector<std::uint8_t>;

// "80 A4 00 00" or "80A40000".
inline Bytes hex(const std::string& text) {
    std::optional<Bytes> bytes = common::fromHex(text);
    EXPECT_TRUE(bytes.has_value()) << "not hex: " << text;
    return bytes.value_or(Bytes{});
}

// Joins byte strings, and scripts of exchanges.
template <typename T>
std::vector<T> operator+(std::vector<T> a, const std::vector<T>& b) {
    // Reserving first also keeps GCC 12's -Warray-bounds from misreading the insert at -O2.
    a.reserve(a.size() + b.size());
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// Bytes [from, to) of `b`.
inline Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
    return Bytes(b.begin() + static_cast<long>(from), b.begin() + static_cast<long>(to));
}

inline std::string toHex(const Bytes& b) {
    return common::toHex(b.data(), b.size(), ' ');
}

// Two-key triple DES through OpenSSL (des-ede), for checking our own cipher.
inline Bytes openssl(const EVP_CIPHER* cipher, bool encrypt, const Bytes& key, const Bytes& iv,
                     const Bytes& data, bool pad) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    Bytes out(data.size() + 16);
    int n = 0, tail = 0;
    const bool ok = EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(),
                                      iv.empty() ? nullptr : iv.data(), encrypt ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx.get(), pad ? 1 : 0) == 1 &&
                    EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(),
                                     static_cast<int>(data.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) == 1;
    EXPECT_TRUE(ok) << "OpenSSL refused the operation";
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

// A protected VERIFY (class 8C) as the card takes it, deciphered with OpenSSL: header with Lc
// 20, R, then the PIN block and its CBC-MAC (chaining value R) enciphered under `key`.
inline void expectProtectedVerify(const Bytes& sent, const Bytes& key, const Bytes& pinBlock) {
    ASSERT_EQ(37u, sent.size());
    EXPECT_EQ("8C 20 00 01 20", toHex(Bytes(sent.begin(), sent.begin() + 5)));
    const Bytes r(sent.begin() + 5, sent.begin() + 13);
    const Bytes plain =
        openssl(EVP_des_ede_cbc(), false, key, r, Bytes(sent.begin() + 13, sent.end()), true);
    ASSERT_EQ(18u, plain.size());
    EXPECT_EQ(toHex(pinBlock), toHex(Bytes(plain.begin(), plain.begin() + 10)));
    const Bytes mac = openssl(EVP_des_ede_cbc(), true, key, r, pinBlock, true);
    EXPECT_EQ(toHex(Bytes(mac.end() - 8, mac.end())),
              toHex(Bytes(plain.begin() + 10, plain.end())));
}

inline Bytes randomBytes(std::size_t n, unsigned seed) {
    Bytes b(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = static_cast<std::uint8_t>(x);
    }
    return b;
}

// One expected exchange: either exact command bytes or a check of its own, then the answer.
struct Exchange {
    Bytes command;
    std::function<void(const Bytes&)> check;  // used when set, instead of `command`
    Bytes response;
    cardread::Status transmitStatus = 0;
};

inline Exchange expect(const std::string& command, const Bytes& response) {
    return Exchange{hex(command), nullptr, response, 0};
}

inline Exchange expect(const std::string& command, const std::string& response) {
    return expect(command, hex(response));
}

using Script = std::vector<Exchange>;

// The main kind's commands: SELECT by file ID in the proprietary class.
inline std::string selectMain(const char* fid) {
    return std::string("80 A4 00 00 02 ") + fid;
}

// The master file, then `df` and `ef` in it, each answered 90 00.
inline Script selectPath(const char* df, const char* ef) {
    return {expect(selectMain("3F 00"), "90 00"), expect(selectMain(df), "90 00"),
            expect(selectMain(ef), "90 00")};
}

// 11 header bytes, then "A001" with mask `mask` and "B002" with mask 3F.
inline Bytes mainIndex(std::uint8_t mask) {
    Bytes index = text("IDXHEADER..") + text("A001-") + Bytes{mask} + text("B002-") + Bytes{0x3F};
    index.resize(140, 0);
    return index;
}

// The main kind's index read, up to its 140 bytes.
inline Script indexRead(std::uint8_t mask) {
    return selectPath("09 00", "09 04") +
           Script{expect("80 B0 00 00 8C", mainIndex(mask) + hex("90 00"))};
}

class ScriptedChannel : public cardread::CardChannel {
  public:
    explicit ScriptedChannel(std::vector<Exchange> script)
        : script_(script.begin(), script.end()) {}
    ~ScriptedChannel() override {
        EXPECT_TRUE(script_.empty())
            << script_.size()
            << " scripted command(s) never sent; next: " << toHex(script_.front().command);
    }

    cardread::Status transmit(const std::uint8_t* command, std::size_t length,
                              std::size_t receiveCapacity, Bytes& response) override {
        const Bytes sent(command, command + length);
        ++sentCount_;
        if (script_.empty()) {
            ADD_FAILURE() << "unexpected command " << toHex(sent);
            return static_cast<cardread::Status>(0x8010002Fu);  // SCARD_E_COMM_DATA_LOST
        }
        Exchange e = std::move(script_.front());
        script_.pop_front();
        if (e.check) {
            e.check(sent);
        } else {
            EXPECT_EQ(toHex(e.command), toHex(sent)) << "command #" << sentCount_;
        }
        if (e.transmitStatus != 0) return e.transmitStatus;
        // PC/SC refuses an answer larger than the receive buffer.
        if (e.response.size() > receiveCapacity) return cardread::kPcscInsufficientBuffer;
        response = e.response;
        return 0;
    }

  private:
    std::deque<Exchange> script_;
    std::size_t sentCount_ = 0;
};

}  // namespace cardtest
