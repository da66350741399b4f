// A simulated card in one of the private pcscd's readers: inserted on construction, with the
// wait until pcscd reports it present, and pulled (with the wait until the reader is empty
// again) on destruction, so the next test starts with an empty reader even after a failure.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "private_pcscd.h"
#include "simulated_card.h"

namespace pcsctest {

class CardInReader {
  public:
    CardInReader(PrivatePcscd& pcscd, const cardsim::CardProfile& profile, int readerIndex = 0,
                 const std::string& logFile = "")
        : pcscd_(pcscd), reader_(readerIndex), card_(profile, pcscd.port() + readerIndex, logFile) {
        if (!card_.insert()) throw std::runtime_error("the reader does not take the card");
        if (!pcscd_.waitForCard(reader_, true))
            throw std::runtime_error("pcscd does not see the inserted card");
    }
    ~CardInReader() { pull(); }
    CardInReader(const CardInReader&) = delete;
    CardInReader& operator=(const CardInReader&) = delete;

    // Takes the card out and waits until pcscd has noticed.
    void pull() {
        card_.remove();
        pcscd_.waitForCard(reader_, false);
    }
    // Puts the same card back (its PIN counter and contents as they were).
    void reinsert() {
        if (!card_.insert() || !pcscd_.waitForCard(reader_, true))
            throw std::runtime_error("the card does not go back in");
    }
    cardsim::SimulatedCard& card() { return card_; }
    cardsim::SimulatedCard* operator->() { return &card_; }
    std::string readerName() const { return pcscd_.readerName(reader_); }

  private:
    PrivatePcscd& pcscd_;
    int reader_;
    cardsim::SimulatedCard card_;
};

}  // namespace pcsctest
