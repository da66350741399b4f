// Script reading, state and call log of the test module.
#include "mock_state.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "objects.h"

namespace p11mock {

ModuleState& state() {
    static ModuleState s;
    return s;
}

bool parseNumber(const std::string& text, CK_ULONG& value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    const auto isDigit = [hex](unsigned char c) {
        return hex ? std::isxdigit(c) : std::isdigit(c);
    };
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), isDigit)) return false;
    value = static_cast<CK_ULONG>(std::strtoull(digits.c_str(), nullptr, hex ? 16 : 10));
    return true;
}

static int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHexBytes(const std::string& text, std::string& bytes) {
    bytes.clear();
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':') {
            if (high >= 0) return false;
            continue;
        }
        const int d = hexDigit(c);
        if (d < 0) return false;
        if (high < 0) {
            high = d;
        } else {
            bytes.push_back(static_cast<char>(high * 16 + d));
            high = -1;
        }
    }
    return high < 0;
}

namespace {

// Reads a quoted value starting after the opening quote; pos ends after the closing quote.
bool readQuoted(const std::string& s, std::size_t& pos, std::string& out, std::string& error) {
    out.clear();
    while (pos < s.size()) {
        const char c = s[pos++];
        if (c == '"') return true;
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (pos >= s.size()) break;
        const char e = s[pos++];
        // The one-character escapes and what each stands for.
        static const char kNamed[] = "\\\"0nt";
        static const char kMeant[] = "\\\"\0\n\t";
        if (const char* named = e ? std::strchr(kNamed, e) : nullptr) {
            out.push_back(kMeant[named - kNamed]);
            continue;
        }
        if (e != 'x') {
            error = std::string("unknown escape \\") + e;
            return false;
        }
        const int h = pos < s.size() ? hexDigit(s[pos]) : -1;
        const int l = pos + 1 < s.size() ? hexDigit(s[pos + 1]) : -1;
        if (h < 0 || l < 0) {
            error = "bad \\x escape";
            return false;
        }
        out.push_back(static_cast<char>(h * 16 + l));
        pos += 2;
    }
    error = "unterminated quote";
    return false;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool tokenize(const std::string& text, ScriptLine& line, std::string& error) {
    std::size_t pos = 0;
    bool first = true;
    while (true) {
        while (pos < text.size() && isBlank(text[pos])) ++pos;
        if (pos >= text.size() || text[pos] == '#') return true;
        std::string run;
        while (pos < text.size() && !isBlank(text[pos]) && text[pos] != '"' && text[pos] != '=')
            run.push_back(text[pos++]);
        std::string value;
        if (pos < text.size() && text[pos] == '=' && !run.empty() && !first) {
            ++pos;
            if (pos < text.size() && text[pos] == '"') {
                ++pos;
                if (!readQuoted(text, pos, value, error)) return false;
            } else {
                while (pos < text.size() && !isBlank(text[pos])) value.push_back(text[pos++]);
            }
            line.named[run] = value;
        } else if (pos < text.size() && text[pos] == '"' && run.empty() && !first) {
            ++pos;
            if (!readQuoted(text, pos, value, error)) return false;
            line.words.push_back(value);
        } else if (pos < text.size() && !isBlank(text[pos])) {
            error = "unexpected character '" + std::string(1, text[pos]) + "'";
            return false;
        } else if (first) {
            line.command = run;
        } else {
            line.words.push_back(run);
        }
        first = false;
    }
}

// A slot and its token before the script's settings; `name` is the ID as the script wrote it.
SlotState defaultSlot(CK_SLOT_ID id, const std::string& name) {
    SlotState slot;
    slot.id = id;
    slot.description = "p11mock slot " + name;
    slot.manufacturer = "card programs tests";
    slot.token.label = "p11mock token";
    slot.token.manufacturer = "card programs tests";
    slot.token.model = "p11mock";
    slot.token.serial = "0000000000000001";
    return slot;
}

struct Loader {
    ModuleState& s;
    std::string error;
    std::string defaultPin = "1234";
    CK_ULONG defaultPinMin = 4;
    CK_ULONG defaultPinMax = 16;

    bool fail(const ScriptLine& line, const std::string& why) {
        error = "line " + std::to_string(line.number) + ": " + why;
        return false;
    }

    static const std::string* value(const ScriptLine& line, const char* name) {
        auto it = line.named.find(name);
        return it == line.named.end() ? nullptr : &it->second;
    }

    bool text(const ScriptLine& line, const char* name, std::size_t width, std::string& field) {
        const std::string* v = value(line, name);
        if (v && v->size() > width)
            return fail(line, std::string(name) + " is longer than " + std::to_string(width));
        if (v) field = *v;
        return true;
    }

    bool number(const ScriptLine& line, const char* name, CK_ULONG& field) {
        const std::string* v = value(line, name);
        return !v || parseNumber(*v, field) || fail(line, std::string("bad number ") + name);
    }

    bool yesNo(const ScriptLine& line, const char* name, bool& field) {
        const std::string* v = value(line, name);
        if (v && *v != "yes" && *v != "no") return fail(line, std::string(name) + " is yes or no");
        if (v) field = *v == "yes";
        return true;
    }

    bool pad(const ScriptLine& line, char& field) {
        const std::string* v = value(line, "pad");
        if (v && *v != "blank" && *v != "nul") return fail(line, "pad is blank or nul");
        if (v) field = *v == "nul" ? '\0' : ' ';
        return true;
    }

    // "none", or names joined by '+' (count-low+final-try), or a number.
    static bool pinFlags(const std::string& word, CK_FLAGS& flags) {
        if (parseNumber(word, flags)) return true;
        static const std::map<std::string, CK_FLAGS> kNames = {
            {"none", 0},
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

    bool global(const ScriptLine& line) {
        if (line.command == "library") {
            return text(line, "description", kLibraryTextWidth, s.libraryDescription) &&
                   text(line, "manufacturer", kLibraryTextWidth, s.libraryManufacturer) &&
                   pad(line, s.libraryPad);
        }
        if (line.command == "pin") {
            if (line.words.size() != 1) return fail(line, "pin takes one value");
            defaultPin = line.words[0];
            return true;
        }
        if (line.command == "pin-length") {
            if (line.words.size() != 2 || !parseNumber(line.words[0], defaultPinMin) ||
                !parseNumber(line.words[1], defaultPinMax))
                return fail(line, "pin-length takes MIN MAX");
            return true;
        }
        if (line.command == "login-delay") {
            if (line.words.size() != 1 || !parseNumber(line.words[0], s.loginDelayMs))
                return fail(line, "login-delay takes milliseconds");
            return true;
        }
        if (line.command == "device-error" || line.command == "token-flags") {
            const bool errors = line.command == "device-error";
            for (const auto& w : line.words) {
                CK_ULONG v = 0;
                if (errors ? !parseNumber(w, v) : !pinFlags(w, v))
                    return fail(line, (errors ? "bad device error " : "bad token flags ") + w);
                (errors ? s.deviceErrors : s.pinFlagSteps).push_back(v);
            }
            return true;
        }
        if (line.command == "fail") {
            FailRule rule;
            if (line.words.size() != 2 || line.words[0].rfind("C_", 0) != 0 ||
                !parseNumber(line.words[1], rule.rv))
                return fail(line, "fail takes C_Name RV [nth=N]");
            rule.function = line.words[0];
            if (!number(line, "nth", rule.nth)) return false;
            s.failRules.push_back(rule);
            return true;
        }
        return fail(line, "unknown command " + line.command);
    }

    bool slot(const ScriptLine& line) {
        CK_SLOT_ID id = 0;
        if (line.words.size() != 1 || !parseNumber(line.words[0], id))
            return fail(line, "slot takes its ID");
        if (findSlot(id)) return fail(line, "slot " + line.words[0] + " given twice");
        SlotState slot = defaultSlot(id, line.words[0]);
        slot.token.pin = defaultPin;
        slot.token.pinMin = defaultPinMin;
        slot.token.pinMax = defaultPinMax;
        if (line.has("pin")) slot.token.pin = line.named.at("pin");
        if (line.has("pin-hex")) slot.token.pinHex = line.named.at("pin-hex");
        if (!(yesNo(line, "token", slot.tokenPresent) && yesNo(line, "pinpad", slot.token.pinPad) &&
              text(line, "description", kSlotTextWidth, slot.description) &&
              text(line, "manufacturer", kTokenTextWidth, slot.manufacturer) &&
              text(line, "label", kTokenTextWidth, slot.token.label) &&
              text(line, "token-manufacturer", kTokenTextWidth, slot.token.manufacturer) &&
              text(line, "model", kSerialWidth, slot.token.model) &&
              text(line, "serial", kSerialWidth, slot.token.serial) &&
              number(line, "pin-min", slot.token.pinMin) &&
              number(line, "pin-max", slot.token.pinMax) && pad(line, slot.pad)))
            return false;
        s.slots.push_back(slot);
        return true;
    }

    bool run(const std::vector<ScriptLine>& lines) {
        // Defaults first, so a "pin" line after the slots still applies to them; objects last,
        // so they may name any slot.
        const auto isObject = [](const ScriptLine& line) {
            return line.command == "key" || line.command == "cert" || line.command == "object";
        };
        for (const auto& line : lines)
            if (line.command != "slot" && !isObject(line) && !global(line)) return false;
        for (const auto& line : lines)
            if (line.command == "slot" && !slot(line)) return false;
        for (const auto& line : lines) {
            const std::string why = isObject(line) ? objectsScriptLine(line) : "";
            if (!why.empty()) return fail(line, why);
        }
        return true;
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
        line.number = ++number;
        std::string error;
        if (!tokenize(text, line, error)) {
            s.scriptError = "line " + std::to_string(number) + ": " + error;
            break;
        }
        if (!line.command.empty()) lines.push_back(line);
    }
    if (s.scriptError.empty()) {
        Loader loader{s, {}};
        if (!loader.run(lines)) s.scriptError = loader.error;
    }
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

void fillText(unsigned char* field, std::size_t width, const std::string& text, char pad) {
    std::memset(field, static_cast<unsigned char>(pad), width);
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
