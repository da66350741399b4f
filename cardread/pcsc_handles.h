// Owners of the PC/SC handles the session opens: each gives its handle back exactly once,
// when asked to or when it goes out of scope, so no way out of a call leaves one open.
#pragma once

#include <cstdint>
#include <utility>

#include "pcsc_api.h"

namespace cardread {

// Holds one handle and the PcscApi call that gives it back.
template <Status (PcscApi::*Release)(std::uintptr_t)>
class PcscOwner {
  public:
    PcscOwner() = default;
    PcscOwner(PcscApi& pcsc, std::uintptr_t handle) : pcsc_(&pcsc), handle_(handle) {}
    PcscOwner(const PcscOwner&) = delete;
    PcscOwner& operator=(const PcscOwner&) = delete;
    PcscOwner(PcscOwner&& other) noexcept
        : pcsc_(std::exchange(other.pcsc_, nullptr)), handle_(other.handle_) {}
    PcscOwner& operator=(PcscOwner&& other) noexcept {
        if (this != &other) {
            release();
            pcsc_ = std::exchange(other.pcsc_, nullptr);
            handle_ = other.handle_;
        }
        return *this;
    }
    ~PcscOwner() { release(); }

    // Gives the handle back; the call's result, or 0 when nothing was held.
    Status release() {
        if (pcsc_ == nullptr) return kStatusOk;
        PcscApi* pcsc = std::exchange(pcsc_, nullptr);
        return (pcsc->*Release)(handle_);
    }
    std::uintptr_t get() const { return handle_; }

  private:
    PcscApi* pcsc_ = nullptr;
    std::uintptr_t handle_ = 0;
};

using ContextOwner = PcscOwner<&PcscApi::releaseContext>;
using CardOwner = PcscOwner<&PcscApi::disconnect>;             // leaves the card as it is
using TransactionOwner = PcscOwner<&PcscApi::endTransaction>;  // on the card handle

// Acquire a handle into an owner; on failure the owner holds nothing and the PC/SC code is
// returned.
inline Status establishContext(PcscApi& pcsc, ContextOwner& owner) {
    PcscContext context = 0;
    const Status rv = pcsc.establishContext(context);
    if (rv == kStatusOk) owner = ContextOwner(pcsc, context);
    return rv;
}

inline Status connectCard(PcscApi& pcsc, PcscContext context, const char* readerName,
                          CardOwner& owner) {
    PcscCard card = 0;
    const Status rv = pcsc.connect(context, readerName, card);
    if (rv == kStatusOk) owner = CardOwner(pcsc, card);
    return rv;
}

inline Status beginTransaction(PcscApi& pcsc, PcscCard card, TransactionOwner& owner) {
    const Status rv = pcsc.beginTransaction(card);
    if (rv == kStatusOk) owner = TransactionOwner(pcsc, card);
    return rv;
}

}  // namespace cardread
