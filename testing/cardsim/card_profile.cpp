#include "card_profile.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace cardsim {
namespace {

// TCK: XOR of T0 up to the last historical byte, so the ATR is well formed for T=1.
Bytes withCheckByte(Bytes atr) {
    std::uint8_t tck = 0;
    for (std::size_t i = 1; i < atr.size(); ++i) tck ^= atr[i];
    atr.push_back(tck);
    return atr;
}

Bytes ascii(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A whole number from `low` to `high` and nothing else.
bool parseInt(const std::string& text, int& out, int low = 0, int high = 0x7FFFFFFF,
              int base = 10) {
    if (text.empty()) return false;
    try {
        std::size_t used = 0;
        long v = std::stol(text, &used, base);
        if (used != text.size() || v < low || v > high) return false;
        out = static_cast<int>(v);
        return true;
    } catch (...) {
        return false;
    }
}

// The position of `value` among `names` (an enum's order), if it is one of them.
template <typename Enum>
bool parseName(const std::string& value, const std::vector<std::string>& names, Enum& out) {
    auto it = std::find(names.begin(), names.end(), value);
    if (it == names.end()) return false;
    out = static_cast<Enum>(it - names.begin());
    return true;
}

// "NAME=VALUE" pairs inside an option value.
bool splitPair(const std::string& text, std::string& left, std::string& right) {
    std::size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    left = text.substr(0, eq);
    right = text.substr(eq + 1);
    return true;
}

bool parseKey16(const std::string& value, std::optional<Bytes>& out) {
    auto key = fromHex(value);
    if (!key || key->size() != 16) return false;
    out = *key;
    return true;
}

std::string parseFault(const std::string& value, FaultRule& rule) {
    std::string match, action;
    if (!splitPair(value, match, action)) return "fault needs PREFIX[#N]=ACTION";
    std::size_t hash = match.find('#');
    if (hash != std::string::npos) {
        if (!parseInt(match.substr(hash + 1), rule.occurrence, 1))
            return "fault occurrence must be a number from 1";
        match = match.substr(0, hash);
    }
    auto prefix = fromHex(match);
    if (!prefix) return "fault prefix must be hex";
    rule.prefix = *prefix;
    std::string kind = action.substr(0, action.find(':'));
    std::string arg = action.find(':') == std::string::npos ? "" : action.substr(kind.size() + 1);
    int n = 0;
    if (kind == "sw" && parseInt(arg, n, 0, 0xFFFF, 16)) {
        rule.action = FaultRule::Action::Status;
        rule.sw = static_cast<std::uint16_t>(n);
    } else if ((kind == "short" || kind == "long") && parseInt(arg, n)) {
        rule.action = kind == "short" ? FaultRule::Action::Truncate : FaultRule::Action::Extend;
        rule.count = static_cast<std::size_t>(n);
    } else if (kind == "raw" && fromHex(arg)) {
        rule.action = FaultRule::Action::Raw;
        rule.raw = *fromHex(arg);
    } else if (kind == "drop" && arg.empty()) {
        rule.action = FaultRule::Action::Drop;
    } else {
        return "fault action must be sw:XXXX, short:N, long:N, raw:HEX or drop";
    }
    return "";
}

int depth = 0;  // description files naming description files

}  // namespace

Bytes defaultPin() {
    return ascii("1234");
}

Bytes defaultAtr(CardKind kind) {
    switch (kind) {
        case CardKind::Main:
            return withCheckByte(
                concat({0x3B, 0xB8, 0x13, 0x00, 0x81, 0x31, 0xFA, 0x52}, ascii("VEKLUNDA")));
        case CardKind::Starcos:
            return {0x3B, 0xB7, 0x94, 0x00, 0x81, 0x31, 0xFE, 0x65,
                    0x53, 0x50, 0x4B, 0x32, 0x33, 0x90, 0x00, 0xD1};
        case CardKind::Other:
            break;
    }
    return withCheckByte(concat({0x3B, 0x88, 0x80, 0x01}, ascii("OTHERCRD")));
}

Bytes buildIndex(const std::vector<IndexEntry>& entries) {
    Bytes index = ascii("CARDINDEX01");
    for (const IndexEntry& e : entries) {
        std::string key = e.key.substr(0, 4);
        key.resize(4, ' ');
        for (char c : key) index.push_back(static_cast<std::uint8_t>(c));
        index.push_back('=');
        index.push_back(e.mask);
        index.push_back(';');
    }
    index.resize(kIndexSize, 0x00);  // entries past 140 bytes are cut, as a real card's would be
    return index;
}

CardProfile patternCard(CardKind kind, std::vector<IndexEntry> entries, int records) {
    CardProfile p;
    p.kind = kind;
    p.entries = std::move(entries);
    for (int r = 1; r <= records; ++r) p.records[r] = patternRecord(r);
    return p;
}

Bytes dataSelectedBy(const CardProfile& card, std::uint8_t mask) {
    Bytes out;
    for (int bit = 0; bit < kMaxRecords; ++bit) {
        if (!(mask & (1 << bit))) continue;
        Bytes r = card.records.at(bit + 1);
        r.resize(kRecordSize, 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

Bytes patternRecord(int number, std::size_t size) {
    Bytes out;
    out.reserve(size);
    for (std::size_t at = 0; out.size() < size; at = out.size()) {
        std::string chunk = "REC" + std::to_string(number) + "@" + std::to_string(at) + " ";
        for (char c : chunk)
            if (out.size() < size) out.push_back(static_cast<std::uint8_t>(c));
    }
    return out;
}

std::string applyOption(SimOptions& options, const std::string& name, const std::string& value) {
    CardProfile& card = options.card;
    std::string left, right;
    int n = 0;
    if (name == "kind") {
        if (!parseName(value, {"main", "starcos", "other"}, card.kind))
            return "kind must be main, starcos or other";
    } else if (name == "atr") {
        auto atr = fromHex(value);
        if (!atr || atr->size() < 2 || atr->size() > 33) return "atr must be 2 to 33 hex bytes";
        card.atr = *atr;
    } else if (name == "pin") {
        card.pin = ascii(value);
    } else if (name == "pin-hex") {
        auto pin = fromHex(value);
        if (!pin) return "pin-hex must be hex";
        card.pin = *pin;
    } else if (name == "tries" && parseInt(value, n, 1, 15)) {
        card.maxTries = card.triesLeft = n;
    } else if (name == "tries-left" && parseInt(value, n, 0, 15)) {
        card.triesLeft = n;
    } else if (name == "entry" && splitPair(value, left, right) && !left.empty() &&
               left.size() <= 4 && parseInt(right, n, 0, 0xFF, 16)) {
        card.entries.push_back({left, static_cast<std::uint8_t>(n)});
    } else if (name == "index") {
        auto index = fromHex(value);
        if (!index) return "index must be hex";
        card.rawIndex = *index;
    } else if (name == "records" && parseInt(value, n, 0, kMaxRecords)) {
        for (int r = 1; r <= n; ++r) card.records[r] = patternRecord(r);
    } else if (name == "record" && splitPair(value, left, right) &&
               parseInt(left, n, 1, kMaxRecords)) {
        auto content = fromHex(right);
        if (!content) return "record content must be hex";
        card.records[n] = *content;
    } else if (name == "record-size" && splitPair(value, left, right) &&
               parseInt(left, n, 1, kMaxRecords)) {
        int size = 0;
        if (!parseInt(right, size, 0, 0x7FFF)) return "record size must be 0 to 32767";
        card.records[n] = patternRecord(n, static_cast<std::size_t>(size));
    } else if (name == "declared-size" && splitPair(value, left, right) &&
               parseInt(left, n, 0, 0xFFFF, 16)) {
        int size = 0;
        if (!parseInt(right, size, 0, 0xFFFF)) return "declared size must be 0 to 65535";
        card.declaredSizes[static_cast<std::uint16_t>(n)] = size;
    } else if (name == "pin-df" && (value == "0800" || value == "5030")) {
        card.pinDf = value == "0800" ? 0x0800 : 0x5030;
    } else if (name == "key-file") {
        card.keyFile = value;
    } else if (name == "key-b") {
        if (!parseKey16(value, card.keyB)) return "key-b must be 16 hex bytes";
    } else if (name == "auth-key") {
        if (!parseKey16(value, card.authKey)) return "auth-key must be 16 hex bytes";
    } else if (name == "fault") {
        FaultRule rule;
        std::string error = parseFault(value, rule);
        if (!error.empty()) return error;
        card.faults.push_back(rule);
    } else if (name == "drop-after" && parseInt(value, n)) {
        card.dropAfter = n;
    } else if (name == "delay-ms" && parseInt(value, n, 0, 10000)) {
        card.answerDelayMs = n;
    } else if (name == "verify-reply") {
        if (!parseName(value, {"plain", "protected", "protected-bad-mac"}, card.verifyReply))
            return "verify-reply must be plain, protected or protected-bad-mac";
    } else if (name == "port" && parseInt(value, n, 1, 65534)) {
        options.port = n;
    } else if (name == "log") {
        options.logFile = value;
    } else if (name == "card") {
        return loadDescription(options, value);
    } else {
        return "bad option or value: " + name + " " + value;
    }
    return "";
}

namespace {

std::string applyLines(SimOptions& options, std::istream& in, const std::string& source) {
    std::string line, error;
    int number = 0;
    while (error.empty() && std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::string name, value;
        if (!(words >> name) || name[0] == '#') continue;
        std::getline(words >> std::ws, value);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) value.pop_back();
        error = applyOption(options, name, value);
        if (!error.empty()) error = source + ":" + std::to_string(number) + ": " + error;
    }
    return error;
}

}  // namespace

std::string loadDescription(SimOptions& options, const std::string& path) {
    if (depth > 4) return "card descriptions nested too deeply";
    std::ifstream in(path);
    if (!in) return "cannot read card description " + path;
    ++depth;
    const std::string error = applyLines(options, in, path);
    --depth;
    return error;
}

CardProfile described(CardProfile card, const std::string& description) {
    SimOptions options;
    options.card = std::move(card);
    std::istringstream in(description);
    const std::string error = applyLines(options, in, "description");
    if (!error.empty()) throw std::invalid_argument(error);
    return options.card;
}

std::string optionHelp() {
    return "  --port P              vpcd port of the reader to insert the card into\n"
           "  --log FILE            append every command APDU (hex, one per line)\n"
           "  --card FILE           card description: one 'option value' per line\n"
           "  --kind main|starcos|other\n"
           "  --atr HEX             ATR instead of the kind's usual one\n"
           "  --pin TEXT | --pin-hex HEX     card holder PIN (default 1234)\n"
           "  --tries N, --tries-left N      PIN retry counter (default 3)\n"
           "  --entry KEY=MASK      index entry: record key, mask byte in hex (repeatable)\n"
           "  --index HEX           the raw index file instead of the entries\n"
           "  --records N           data records 1..N with pattern content, 1000 bytes each\n"
           "  --record N=HEX, --record-size N=SIZE   content of one record\n"
           "  --declared-size FID=N size the FCI reports for a file (starcos)\n"
           "  --pin-df 0800|5030    DF holding the PIN context EF 0810 (main)\n"
           "  --key-file PATH, --key-b HEX, --auth-key HEX   the card's keys\n"
           "  --fault PREFIX[#K]=sw:XXXX|short:N|long:N|raw:HEX|drop\n"
           "  --drop-after N        pull the card when command N+1 arrives\n"
           "  --delay-ms N          wait N ms before each answer (a slow card)\n"
           "  --verify-reply plain|protected|protected-bad-mac\n";
}

}  // namespace cardsim
