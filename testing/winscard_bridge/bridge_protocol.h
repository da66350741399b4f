// The wire format between the test-only winscard.dll (a Windows program's side, under Wine) and
// the Linux helper that makes the pcsc-lite calls. Both ends include this file: one for the
// MinGW compiler, one for the host's, so it uses fixed-width types only and encodes every field
// little-endian by hand.
//
// A frame is a 4-byte length, then that many bytes. A request frame starts with the operation
// code (u32); a reply frame starts with the PC/SC result (u32, the Windows LONG's bits). The
// fields that follow are listed per operation below; `bytes` is a u32 count and the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace winscardbridge {

enum class Op : std::uint32_t {
    // u32 scope -> u64 context
    EstablishContext = 1,
    // u64 context -> -
    ReleaseContext,
    // u64 context -> -
    IsValidContext,
    // u64 context -> bytes multi-string (names, each NUL-ended, one more NUL)
    ListReaders,
    // u64 context, bytes reader (no NUL), u32 share, u32 protocols -> u64 card, u32 protocol
    Connect,
    // u64 card, u32 disposition -> -
    Disconnect,
    // u64 card -> -
    BeginTransaction,
    // u64 card, u32 disposition -> -
    EndTransaction,
    // u64 card -> bytes reader multi-string, u32 state, u32 protocol, bytes ATR
    Status,
    // u64 card, u32 attribute -> bytes value
    GetAttrib,
    // u64 card, u32 send protocol, bytes command, u32 receive capacity -> u32 receive
    // protocol, bytes response
    Transmit,
    // u64 context, bytes name, bytes ATR, bytes mask -> - (recorded only)
    IntroduceCardType,
};

// Windows' protocol bits where they differ from pcsc-lite's (raw is 4 there).
constexpr std::uint32_t kWinProtocolRaw = 0x00010000;
constexpr std::uint32_t kWinProtocolDefault = 0x80000000;

// Larger than any short or extended APDU exchange; a longer frame is a broken peer.
constexpr std::uint32_t kMaxFrame = 1u << 20;

using Bytes = std::vector<std::uint8_t>;

class Writer {
  public:
    explicit Writer(std::uint32_t first) { u32(first); }
    // Replaces the first field (a reply's result, known only after the call).
    void setFirst(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    // Each field appends itself and returns the writer, so a request is one expression.
    Writer& u32(std::uint32_t v) { return put(v, 4); }
    Writer& u64(std::uint64_t v) { return put(v, 8); }
    Writer& blob(const void* data, std::size_t length) {
        u32(static_cast<std::uint32_t>(length));
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes_.insert(bytes_.end(), p, p + length);
        return *this;
    }
    Writer& blob(const Bytes& b) { return blob(b.data(), b.size()); }
    // The frame to send: the length, then the payload.
    Bytes frame() const {
        Writer out(static_cast<std::uint32_t>(bytes_.size()));
        out.bytes_.insert(out.bytes_.end(), bytes_.begin(), bytes_.end());
        return out.bytes_;
    }

  private:
    Writer& put(std::uint64_t v, int size) {
        for (int i = 0; i < size; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    Bytes bytes_;
};

// Reads the fields of one frame's payload; a short frame sets `ok()` false and yields zeros.
class Reader {
  public:
    explicit Reader(const Bytes& payload) : data_(payload) {}
    std::uint32_t u32() { return static_cast<std::uint32_t>(get(4)); }
    std::uint64_t u64() { return get(8); }
    Bytes blob() {
        const std::uint32_t n = u32();
        if (!take(n)) return {};
        Bytes out(n);
        if (n) std::memcpy(out.data(), data_.data() + (at_ - n), n);
        return out;
    }
    std::string text() {
        Bytes b = blob();
        return std::string(b.begin(), b.end());
    }
    bool ok() const { return ok_; }

  private:
    std::uint64_t get(std::size_t size) {
        std::uint64_t v = 0;
        if (!take(size)) return 0;
        for (std::size_t i = 0; i < size; ++i)
            v |= static_cast<std::uint64_t>(data_[at_ - size + i]) << (8 * i);
        return v;
    }
    bool take(std::size_t n) {
        if (!ok_ || data_.size() - at_ < n) {
            ok_ = false;
            return false;
        }
        at_ += n;
        return true;
    }
    const Bytes& data_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

// The length prefix of a frame, from its first four bytes.
inline std::uint32_t frameLength(const std::uint8_t* header) {
    return static_cast<std::uint32_t>(header[0]) | static_cast<std::uint32_t>(header[1]) << 8 |
           static_cast<std::uint32_t>(header[2]) << 16 |
           static_cast<std::uint32_t>(header[3]) << 24;
}

}  // namespace winscardbridge
