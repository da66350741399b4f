// A simulated card: an instruction-handler table over a file system, with a security state
// (PIN verified, card authenticated) and the faults its profile asks for.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "card_profile.h"
#include "file_system.h"
#include "issuer_keys.h"

namespace cardsim {

// Status words the cards answer with.
enum : std::uint16_t {
    kSwOk = 0x9000,
    kSwEndOfFile = 0x6282,
    kSwWrongLength = 0x6700,
    kSwSecurityNotSatisfied = 0x6982,
    kSwPinBlocked = 0x6983,
    kSwConditionsNotSatisfied = 0x6985,
    kSwNoCurrentEf = 0x6986,
    kSwBadSecureMessaging = 0x6988,
    kSwWrongParameters = 0x6A86,
    kSwFileNotFound = 0x6A82,
    kSwReferenceNotFound = 0x6A88,
    kSwOffsetOutOfFile = 0x6B00,
    kSwAuthenticationFailed = 0x6300,
    kSwInsNotSupported = 0x6D00,
    kSwClassNotSupported = 0x6E00,
};

// A short command APDU split into its parts (cases 1 to 4).
struct Apdu {
    std::uint8_t cla = 0, ins = 0, p1 = 0, p2 = 0;
    Bytes data;
    std::optional<int> le;  // 1..256 (an Le byte of 00 means 256)
    static std::optional<Apdu> parse(const Bytes& command);
};

class Card {
  public:
    explicit Card(CardProfile profile);
    virtual ~Card() = default;

    const Bytes& atr() const { return atr_; }

    // Power off, power on and reset all clear the security state and the selection.
    void powerCycle();

    // Answers one command APDU. nullopt: the card is pulled out instead of answering.
    std::optional<Bytes> transmit(const Bytes& command);

    int triesLeft() const { return profile_.triesLeft; }
    // What a run leaves changed on the card: the PIN counter and how often each fault matched.
    // A test that runs one request twice puts them back in between.
    struct Counters {
        int triesLeft;
        std::map<std::size_t, int> faultMatches;
    };
    Counters counters() const { return {profile_.triesLeft, faultMatches_}; }
    void setCounters(const Counters& counters) {
        profile_.triesLeft = counters.triesLeft;
        faultMatches_ = counters.faultMatches;
    }
    // Every PIN block a VERIFY delivered, deciphered where it came protected.
    const std::vector<Bytes>& pinBlocks() const { return pinBlocks_; }
    // Receives notes worth a line in the log (a deciphered PIN block, a failed MAC check).
    void setNoteSink(std::function<void(const std::string&)> sink) { note_ = std::move(sink); }

  protected:
    using Handler = std::function<Bytes(const Apdu&)>;
    void addInstruction(std::uint8_t cla, std::uint8_t ins, Handler handler);

    // READ BINARY of the current EF from `offset`, at most Le bytes; 6282 with the bytes there
    // are when the file ends first.
    Bytes readBinary(const Apdu& apdu, int offset);
    // Compares a PIN block with the card's PIN padded to `size` with `fill`, keeping the retry
    // counter: 63Cx, 6983 when blocked.
    std::uint16_t checkPin(const Bytes& block, std::size_t size, std::uint8_t fill);
    void note(const std::string& text) const;
    // A response: the data, then the status word.
    static Bytes status(std::uint16_t sw, Bytes data = {});
    // The file identifier a SELECT names in its two data bytes.
    static std::uint16_t fileId(const Bytes& data) {
        return static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    }

    CardProfile profile_;
    FileSystem fs_;
    bool pinVerified_ = false;
    bool authenticated_ = false;
    std::vector<Bytes> pinBlocks_;

  private:
    std::optional<Bytes> applyFaults(const Bytes& command, Bytes response);
    Bytes atr_;
    std::map<std::pair<std::uint8_t, std::uint8_t>, Handler> instructions_;
    std::map<std::size_t, int> faultMatches_;
    int commandCount_ = 0;
    std::function<void(const std::string&)> note_;
};

// The card of the profile's kind. Keys are read (main kind) from the profile's key file or the
// build's; throws std::runtime_error when they cannot be.
std::unique_ptr<Card> makeCard(const CardProfile& profile);

}  // namespace cardsim
