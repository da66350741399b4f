// What one simulated card is: its kind and ATR, PIN and retry counter, index entries and data
// records, keys, and the faults it is told to commit. Filled from options (command line or a
// card description file) or directly by C++ tests.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "bytes.h"

namespace cardsim {

// Main: class 80 commands with the protected VERIFY and card authentication. Starcos: ISO
// commands. Other: a card that only has an ATR (recognition tests); it refuses every command.
enum class CardKind { Main, Starcos, Other };

struct IndexEntry {
    std::string key;  // up to four characters, blank-padded into the index
    std::uint8_t mask = 0;
};

// A fault fires on commands that start with `prefix` (every match when `occurrence` is 0, else
// only the occurrence-th match, counted from 1).
struct FaultRule {
    enum class Action { Status, Truncate, Extend, Raw, Drop };
    Bytes prefix;
    int occurrence = 0;
    Action action = Action::Status;
    std::uint16_t sw = 0x6F00;  // Status: the reply is this status word alone
    std::size_t count = 0;      // Truncate/Extend: data bytes removed from / added to the reply
    Bytes raw;                  // Raw: the whole reply (empty: the card is pulled instead,
                                // as vpcd has no way to pass on an answer of no bytes)
};

// How the main kind answers an accepted protected VERIFY: status word alone, or a protected
// reply (R', enciphered MAC, status) with a right or a deliberately wrong MAC.
enum class VerifyReply { Plain, Protected, ProtectedBadMac };

constexpr int kMaxRecords = 6;
constexpr std::size_t kIndexSize = 140;
constexpr std::size_t kRecordSize = 1000;

Bytes defaultPin();  // "1234"

struct CardProfile {
    CardKind kind = CardKind::Main;
    Bytes atr;  // empty: the kind's usual ATR
    Bytes pin = defaultPin();
    int maxTries = 3;
    int triesLeft = 3;
    std::vector<IndexEntry> entries;
    std::optional<Bytes> rawIndex;               // replaces the index built from `entries`
    std::map<int, Bytes> records;                // record number 1..6 -> content of EF AC00 + n
    std::map<std::uint16_t, int> declaredSizes;  // FCI sizes that differ from the content
    std::uint16_t pinDf = 0x0800;                // DF of the PIN context EF 0810 (0800 or 5030)
    std::string keyFile;                         // empty: the build's key file
    std::optional<Bytes> keyB;  // overrides: a card whose keys differ from the library's
    std::optional<Bytes> authKey;
    std::vector<FaultRule> faults;
    int dropAfter = 0;  // > 0: the card is pulled when command dropAfter + 1 arrives
    // A slow card: each answer waits this long, so that concurrent readers overlap.
    int answerDelayMs = 0;
    VerifyReply verifyReply = VerifyReply::Plain;
};

Bytes defaultAtr(CardKind kind);

// 140 bytes: an 11-byte header the library skips, then per entry the key (4 bytes), '=', the
// mask byte and ';', zero-filled after the last entry.
Bytes buildIndex(const std::vector<IndexEntry>& entries);

// Recognisable record content: "REC n " followed by the offset, repeated to `size` bytes.
Bytes patternRecord(int number, std::size_t size = kRecordSize);

// A card of the kind with the index entries and pattern records 1 to `records`.
CardProfile patternCard(CardKind kind, std::vector<IndexEntry> entries, int records = kMaxRecords);

// What a reader must get for the mask: the selected records in ascending bit order, each in a
// 1000-byte slot; a record shorter than that leaves the rest of its slot zero (the caller's
// buffer is zero-filled).
Bytes dataSelectedBy(const CardProfile& card, std::uint8_t mask);

// Options common to the program and its description files, beside the card itself.
struct SimOptions {
    CardProfile card;
    int port = 0;
    std::string logFile;
};

// Applies one option (`name` without leading dashes). Returns an error text, or "" when done.
std::string applyOption(SimOptions& options, const std::string& name, const std::string& value);

// A description file: one option per line, "name value", '#' starts a comment line.
std::string loadDescription(SimOptions& options, const std::string& path);

// The card with the lines of a description (as in a file) applied on top, so that C++ tests
// write a card's peculiarities the way a description file does ("fault 80B0#2=short:3");
// throws std::invalid_argument on a line the program would refuse.
CardProfile described(CardProfile card, const std::string& description);

// The option names with a line of help each, for --help.
std::string optionHelp();

}  // namespace cardsim
