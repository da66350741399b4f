// Script reading, state and call log of the test module.
#include "mock_state.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "entries.h"

namespace p11mock {

ModuleState& state() {
    static ModuleState s;
    return s;
}

namespace {

constexpr const char* kHexDigits = "0123456789abcdefABCDEF";

// Hex digits, two to a byte, into bytes. False on odd or bad digits.
bool parseHexBytes(const std::string& text, std::string& bytes) {
    if (text.size() % 2 || text.find_first_not_of(kHexDigits) != std::string::npos) return false;
    bytes.clear();
    for (std::size_t i = 0; i < text.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return true;
}

// Decimal or 0x-prefixed hex. False on anything else.
bool parseNumber(const std::string& text, CK_ULONG& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.find_first_not_of(hex ? kHexDigits : "0123456789") != digits.npos)
        return false;
    value = static_cast<CK_ULONG>(std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10));
    return true;
}

}  // namespace

std::string ScriptLine::text(const char* name, std::size_t width, std::string& field) const {
    if (has(name) && named.at(name).size() > width)
        return std::string(name) + " is longer than " + std::to_string(width);
    if (has(name)) field = named.at(name);
    return {};
}

std::string ScriptLine::number(const char* name, CK_ULONG& field) const {
    if (!has(name) || parseNumber(named.at(name), field)) return {};
    return std::string("bad number ") + name;
}

std::string ScriptLine::hex(const char* name, std::string& field) const {
    if (!has(name) || parseHexBytes(named.at(name), field)) return {};
    return std::string("bad hex in ") + name;
}

std::string ScriptLine::choice(const char* name, const char* yes, const char* no,
                               bool& field) const {
    if (!has(name)) return {};
    const std::string& v = named.at(name);
    if (v != yes && v != no) return std::string(name) + " is " + yes + " or " + no;
    field = v == yes;
    return {};
}

std::string firstRefusal(std::initializer_list<std::string> whys) {
    for (const std::string& why : whys)
        if (!why.empty()) return why;
    return {};
}

namespace {

// Reads a quoted value starting after the opening quote; pos ends after the closing quote. A
// backslash takes the next character as it is: \" and \\, any other is refused. Answers why the
// value is refused, or an empty text.
std::string readQuoted(const std::string& s, std::size_t& pos, std::string& out) {
    out.clear();
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '"') return {};
        if (c == '\\' && pos >= s.size()) break;
        if (c == '\\' && s[pos] != '"' && s[pos] != '\\')
            return std::string("unknown escape \\") + s[pos];
        out.push_back(c == '\\' ? s[pos++] : c);
    }
    return "unterminated quote";
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// Splits a line into its command, its bare or quoted words and its name=value options. Answers
// why the line is refused, or an empty text.
std::string tokenize(const std::string& text, ScriptLine& line) {
    std::size_t pos = 0;
    const auto at = [&](char c) { return pos < text.size() && text[pos] == c; };
    // A bare run of characters up to a blank, and also up to a quote or '=' unless in a value.
    const auto bare = [&](bool inValue) {
        std::string run;
        while (pos < text.size() && !isBlank(text[pos]) && (inValue || (!at('"') && !at('='))))
            run.push_back(text[pos++]);
        return run;
    };
    for (bool first = true;; first = false) {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos >= text.size() || at('#')) return {};
        const std::string run = bare(false);
        std::string value, why;
        if (at('=') && !run.empty() && !first) {
            ++pos;
            if (at('"'))
                why = readQuoted(text, ++pos, value);
            else
                value = bare(true);
            line.named[run] = value;
        } else if (at('"') && run.empty() && !first) {
            why = readQuoted(text, ++pos, value);
            line.words.push_back(value);
        } else if (pos < text.size() && !isBlank(text[pos])) {
            return "unexpected character '" + std::string(1, text[pos]) + "'";
        } else if (first) {
            line.command = run;
        } else {
            line.words.push_back(run);
        }
        if (!why.empty()) return why;
    }
}

// "none", or names joined by '+' (count-low+final-try), or a number.
bool parsePinFlags(const std::string& word, CK_FLAGS& flags) {
    if (parseNumber(word, flags)) return true;
    static const std::map<std::string, CK_FLAGS> kNames = {{"none", 0},
                                                           {"count-low", CKF_USER_PIN_COUNT_LOW},
                                                           {"final-try", CKF_USER_PIN_FINAL_TRY},
                                                           {"locked", CKF_USER_PIN_LOCKED}};
    flags = 0;
    for (std::size_t start = 0, end; start <= word.size(); start = end + 1) {
        end = std::min(word.find('+', start), word.size());
        const auto name = kNames.find(word.substr(start, end - start));
        if (name == kNames.end()) return false;
        flags |= name->second;
    }
    return true;
}

// A slot before the script's settings; `name` is the ID as the script wrote it.
SlotState defaultSlot(CK_SLOT_ID id, const std::string& name) {
    SlotState slot;
    slot.id = id;
    slot.description = "p11mock slot " + name;
    return slot;
}

// The readers of the script's lines answer why a line is refused, or an empty text.
struct Loader {
    ModuleState& s;
    TokenState defaults;  // what "pin" and "pin-length" set for every token

    std::string global(const ScriptLine& line) {
        const auto& w = line.words;
        if (line.command == "library") {
            return firstRefusal({line.text("description", kLibraryTextWidth, s.libraryDescription),
                                 line.choice("pad", "nul", "blank", s.libraryNulPad)});
        }
        if (line.command == "pin") {
            if (w.size() != 1) return "pin takes one value";
            defaults.pin = w[0];
        } else if (line.command == "pin-length") {
            if (w.size() != 2 || !parseNumber(w[0], defaults.pinMin) ||
                !parseNumber(w[1], defaults.pinMax))
                return "pin-length takes MIN MAX";
        } else if (line.command == "login-delay") {
            if (w.size() != 1 || !parseNumber(w[0], s.loginDelayMs))
                return "login-delay takes milliseconds";
        } else if (line.command == "device-error" || line.command == "token-flags") {
            const bool errors = line.command == "device-error";
            for (const auto& word : w) {
                CK_ULONG v = 0;
                if (errors ? !parseNumber(word, v) : !parsePinFlags(word, v))
                    return (errors ? "bad device error " : "bad token flags ") + word;
                (errors ? s.deviceErrors : s.pinFlagSteps).push_back(v);
            }
        } else if (line.command == "fail") {
            FailRule rule;
            if (w.size() != 2 || w[0].rfind("C_", 0) != 0 || !parseNumber(w[1], rule.rv))
                return "fail takes C_Name RV [nth=N]";
            rule.function = w[0];
            s.failRules.push_back(rule);
            return line.number("nth", s.failRules.back().nth);
        } else {
            return "unknown command " + line.command;
        }
        return {};
    }

    std::string slot(const ScriptLine& line) {
        CK_SLOT_ID id = 0;
        if (line.words.size() != 1 || !parseNumber(line.words[0], id)) return "slot takes its ID";
        if (findSlot(id)) return "slot " + line.words[0] + " given twice";
        SlotState slot = defaultSlot(id, line.words[0]);
        TokenState& t = slot.token;
        t = defaults;
        if (line.has("pin")) t.pin = line.named.at("pin");
        if (line.has("pin-hex")) t.pinHex = line.named.at("pin-hex");
        const std::string why = firstRefusal(
            {line.choice("token", "yes", "no", slot.tokenPresent),
             line.choice("pinpad", "yes", "no", t.pinPad),
             line.text("description", kSlotTextWidth, slot.description),
             line.text("label", kTokenTextWidth, t.label),
             line.text("serial", kSerialWidth, t.serial), line.number("pin-min", t.pinMin),
             line.number("pin-max", t.pinMax), line.choice("pad", "nul", "blank", slot.nulPad)});
        if (why.empty()) s.slots.push_back(slot);
        return why;
    }

    std::string run(const std::vector<ScriptLine>& lines) {
        // Settings first, so a "pin" line after the slots still applies to them; objects last,
        // so they may name any slot.
        for (int pass = 0; pass < 3; ++pass) {
            for (const auto& line : lines) {
                const bool slotLine = line.command == "slot";
                const bool objectLine = line.command == "key" || line.command == "cert";
                std::string why;
                if (pass == 0 && !slotLine && !objectLine) why = global(line);
                if (pass == 1 && slotLine) why = slot(line);
                if (pass == 2 && objectLine) why = objectsScriptLine(line);
                if (!why.empty()) return "line " + std::to_string(line.lineNumber) + ": " + why;
            }
        }
        return {};
    }
};

}  // namespace

bool scriptChanged() {
    const char* path = std::getenv("P11MOCK_SCRIPT");
    return state().scriptPath != (path ? path : "");
}

void loadScript() {
    ModuleState& s = state();
    s = ModuleState();
    objectsReset();
    s.scriptLoaded = true;
    const char* path = std::getenv("P11MOCK_SCRIPT");
    s.scriptPath = path ? path : "";
    if (!path || !*path) {
        s.slots.push_back(defaultSlot(1, "1"));
        return;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        s.scriptError = std::string("cannot read script ") + path;
        logLine("script error: " + s.scriptError);
        return;
    }
    std::vector<ScriptLine> lines;
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ScriptLine line;
        line.lineNumber = ++number;
        const std::string why = tokenize(text, line);
        if (!why.empty()) {
            s.scriptError = "line " + std::to_string(number) + ": " + why;
            break;
        }
        if (!line.command.empty()) lines.push_back(line);
    }
    if (s.scriptError.empty()) s.scriptError = Loader{s, {}}.run(lines);
    if (!s.scriptError.empty()) {
        logLine("script error: " + s.scriptError);
        std::fprintf(stderr, "p11mock: script error: %s\n", s.scriptError.c_str());
    }
}

SlotState* findSlot(CK_SLOT_ID id) {
    for (auto& slot : state().slots)
        if (slot.id == id) return &slot;
    return nullptr;
}

SlotState* sessionSlot(CK_SESSION_HANDLE session) {
    auto it = state().sessions.find(session);
    return it == state().sessions.end() ? nullptr : findSlot(it->second.slot);
}

void fillText(unsigned char* field, std::size_t width, const std::string& text, bool nulPad) {
    std::memset(field, nulPad ? '\0' : ' ', width);
    std::memcpy(field, text.data(), text.size() < width ? text.size() : width);
}

void logLine(const std::string& line) {
    const char* path = std::getenv("P11MOCK_LOG");
    if (!path || !*path) return;
    // Binary: on Windows too the log reads back with LF line ends.
    // Unbuffered: the line, PIN included, goes straight to the file without a copy in a
    // stream buffer that would be freed unwiped.
    if (FILE* f = std::fopen(path, "ab")) {
        std::setvbuf(f, nullptr, _IONBF, 0);
        std::fwrite(line.data(), 1, line.size(), f);
        std::fputc('\n', f);
        std::fclose(f);
    }
}

Call::~Call() {
    line_.resize(line_.capacity());
    volatile char* bytes = &line_[0];
    for (std::size_t i = 0; i < line_.size(); ++i) bytes[i] = 0;
}

Call::Call(const char* function) : line_(function) {
    // Room for every argument at once: no growing copy of the line is freed unwiped.
    line_.reserve(512);
    ModuleState& s = state();
    const CK_ULONG n = ++s.callCounts[function];
    for (const auto& rule : s.failRules) {
        if (rule.function == function && (rule.nth == 0 || rule.nth == n)) {
            injected_ = rule.rv;
            break;
        }
    }
}

void Call::key(const char* name) {
    line_ += ' ';
    line_ += name;
    line_ += '=';
}

Call& Call::arg(const char* name, CK_ULONG value) {
    key(name);
    line_ += std::to_string(value);
    return *this;
}

Call& Call::arg(const char* name, const void* bytes, CK_ULONG length) {
    if (!bytes) return argPointer(name, bytes);
    key(name);
    const auto* p = static_cast<const unsigned char*>(bytes);
    char hex[8];
    for (CK_ULONG i = 0; i < length; ++i) {
        if (p[i] > 0x20 && p[i] < 0x7F && p[i] != '\\') {
            line_ += static_cast<char>(p[i]);
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", p[i]);
            line_ += hex;
        }
    }
    return *this;
}

Call& Call::argPointer(const char* name, const void* pointer) {
    key(name);
    line_ += pointer ? "set" : "null";
    return *this;
}

CK_RV Call::refusal() const {
    if (injected_) return injected_;
    return state().initialized ? CKR_OK : CKR_CRYPTOKI_NOT_INITIALIZED;
}

CK_RV Call::refusal(CK_SESSION_HANDLE session) const {
    if (CK_RV rv = refusal()) return rv;
    return state().sessions.count(session) ? CKR_OK : CKR_SESSION_HANDLE_INVALID;
}

CK_RV Call::done(CK_RV rv) {
    char tail[32];
    std::snprintf(tail, sizeof tail, " -> 0x%lX", static_cast<unsigned long>(rv));
    line_ += tail;
    logLine(line_);
    return rv;
}

}  // namespace p11mock
