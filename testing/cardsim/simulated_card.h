// Plays a card into a vpcd reader: connects to the reader's TCP port (inserting the card),
// answers its messages on a thread of its own, and closes the connection to pull the card.
// Framing in both directions: a 2-byte big-endian length, then the payload. A 1-byte payload
// from the reader is a control code (0 power off, 1 power on, 2 reset, 4 ATR, only 4 is
// answered, and the reader polls it at any time); a longer one is a command APDU.
#pragma once

#include <atomic>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "card.h"

namespace cardsim {

class SimulatedCard {
  public:
    // Builds the card (throws std::runtime_error if its keys cannot be read); not yet inserted.
    // A non-empty `logFile` gets every command APDU appended as a hex line, notes as "# ..."
    SimulatedCard(const CardProfile& profile, int port, const std::string& logFile = "");
    ~SimulatedCard();
    SimulatedCard(const SimulatedCard&) = delete;
    SimulatedCard& operator=(const SimulatedCard&) = delete;

    // Connects to the reader, retrying while nobody listens yet, up to `timeoutMs`. The card's
    // PIN counter and contents survive a removal and a new insertion; its security state not.
    bool insert(int timeoutMs = 10000);
    // Pulls the card out (closes the connection) and waits for the serving thread to end.
    void remove();
    // False once removed, pulled by a fault, or when the reader closed the connection.
    bool inserted() const { return connected_.load(); }

    std::vector<Bytes> commands() const;  // every command APDU received, in order
    std::vector<Bytes> pinBlocks() const;
    int triesLeft() const;
    Card::Counters counters() const;
    void setCounters(const Card::Counters& counters);

  private:
    void serve(int fd);
    void logLine(const std::string& line);

    mutable std::mutex mutex_;
    std::unique_ptr<Card> card_;
    int port_;
    int answerDelayMs_;
    int fd_ = -1;
    std::atomic<bool> connected_{false};
    std::thread thread_;
    std::vector<Bytes> commands_;
    std::ofstream log_;
};

}  // namespace cardsim
