// A simulated card in one of the private pcscd's readers: inserted on construction, with the
// wait until pcscd reports it present, and pulled (with the wait until the reader is empty
// again) on destruction, so the next test starts with an empty reader even after a failure.
#pragma once

#include <algorithm>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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
        std::lock_guard<std::mutex> lock(registry().mutex);
        registry().cards.push_back(this);
    }
    ~CardInReader() {
        {
            std::lock_guard<std::mutex> lock(registry().mutex);
            auto& cards = registry().cards;
            cards.erase(std::remove(cards.begin(), cards.end(), this), cards.end());
        }
        pull();
    }
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
    cardsim::SimulatedCard* operator->() { return &card_; }

    // The counters of every card now in a reader, and putting them back (the cards stay in
    // meanwhile): for a driver that runs one request twice, so that the second run meets the
    // cards as the first did.
    using SavedCounters = std::vector<std::pair<CardInReader*, cardsim::Card::Counters>>;
    static SavedCounters saveCounters() {
        std::lock_guard<std::mutex> lock(registry().mutex);
        SavedCounters saved;
        for (CardInReader* card : registry().cards)
            saved.emplace_back(card, card->card_.counters());
        return saved;
    }
    static void restoreCounters(const SavedCounters& saved) {
        for (const auto& [card, counters] : saved) card->card_.setCounters(counters);
    }

  private:
    struct Registry {
        std::mutex mutex;
        std::vector<CardInReader*> cards;
    };
    static Registry& registry() {
        static Registry r;
        return r;
    }

    PrivatePcscd& pcscd_;
    int reader_;
    cardsim::SimulatedCard card_;
};

}  // namespace pcsctest
