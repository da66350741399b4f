#include "common/trace.h"

#include <chrono>
#include <cstdio>

#include "common/version.h"
#include "trace_sink.h"

namespace cardtrace {
namespace {

struct State {
    bool on = false;
    std::string header;  // "{\"time\":" is added per line; this is what follows it
};

State& state() {
    // Decided once, the first time anything asks: the environment and the desktop file are
    // looked at only then, so a program with the trace off pays one check.
    static State s = [] {
        State st;
        try {
            if (!sink::open()) return st;
            st.header = ",\"program\":" + quoted(sink::programName()) +
                        ",\"version\":\"" CARD_VERSION_TEXT "\",\"pid\":" +
                        std::to_string(sink::processId());
            st.on = true;
        } catch (...) {
            st.on = false;
        }
        return st;
    }();
    return s;
}

void appendEscaped(std::string& out, const std::string& value) {
    static const char digits[] = "0123456789abcdef";
    auto escapeByte = [&](unsigned char c) {
        out += "\\u00";
        out += digits[c >> 4];
        out += digits[c & 15];
    };
    const std::size_t n = value.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            escapeByte(c);
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            // Module and reader texts come in any encoding; only whole, shortest-form UTF-8
            // sequences pass as they are, every other byte is written as its code point.
            std::size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
            if (c >= 0xF5) length = 0;
            bool whole = length > 0 && i + length <= n;
            for (std::size_t k = 1; whole && k < length; ++k)
                whole = (static_cast<unsigned char>(value[i + k]) & 0xC0) == 0x80;
            if (whole && length >= 3) {
                const unsigned char d = static_cast<unsigned char>(value[i + 1]);
                if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) ||
                    (c == 0xF0 && d < 0x90) || (c == 0xF4 && d >= 0x90))
                    whole = false;
            }
            if (whole) {
                out.append(value, i, length);
                i += length - 1;
            } else {
                escapeByte(c);
            }
        }
    }
}

}  // namespace

bool on() {
    return state().on;
}

namespace {
double totalWaitMs = 0;
}

void addWaitMs(double ms) {
    if (ms > 0) totalWaitMs += ms;
}

double waitMs() {
    return totalWaitMs;
}

double nowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

const char* buildArchitecture() {
#if defined(__x86_64__) || defined(_M_X64)
    return "x64";
#elif defined(__i386__) || defined(_M_IX86)
    return "x86";
#elif defined(__aarch64__) || defined(_M_ARM64)
    return "arm64";
#elif defined(__arm__)
    return "arm";
#else
    return "other";
#endif
}

std::string osVersion() {
    return sink::osVersion();
}

std::string quoted(const std::string& value) {
    std::string out = "\"";
    appendEscaped(out, value);
    out += '"';
    return out;
}

Event::Event(const char* name) {
    if (!on()) return;
    try {
        line_ =
            "{\"time\":\"" + sink::utcNow() + '"' + state().header + ",\"event\":" + quoted(name);
    } catch (...) {
        line_.clear();
    }
}

Event::~Event() {
    if (line_.empty()) return;
    try {
        line_ += "}\n";
        sink::append(line_.data(), line_.size());
    } catch (...) {
    }
}

namespace {

// Adds ,"name": and what `value` makes to a line being built. A line that cannot be built for
// want of memory is dropped whole rather than written in part, and the program goes on: tracing
// never changes a result.
template <typename Value>
void extend(std::string& line, const char* name, Value&& value) {
    if (line.empty()) return;
    try {
        line += ",\"";
        line += name;
        line += "\":";
        line += value();
    } catch (...) {
        line.clear();
    }
}

}  // namespace

Event& Event::text(const char* name, const std::string& value) {
    extend(line_, name, [&] { return quoted(value); });
    return *this;
}

Event& Event::text(const char* name, const char* value) {
    extend(line_, name, [&] { return quoted(value ? value : ""); });
    return *this;
}

Event& Event::padded(const char* name, const unsigned char* value, std::size_t size) {
    while (size > 0 && (value[size - 1] == ' ' || value[size - 1] == '\0')) --size;
    extend(line_, name,
           [&] { return quoted(std::string(reinterpret_cast<const char*>(value), size)); });
    return *this;
}

Event& Event::number(const char* name, long long value) {
    extend(line_, name, [&] { return std::to_string(value); });
    return *this;
}

Event& Event::unsignedNumber(const char* name, unsigned long long value) {
    extend(line_, name, [&] { return std::to_string(value); });
    return *this;
}

Event& Event::ms(const char* name, double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value < 0 ? 0.0 : value);
    extend(line_, name, [&]() -> const char* { return text; });
    return *this;
}

Event& Event::flag(const char* name, bool value) {
    extend(line_, name, [&] { return value ? "true" : "false"; });
    return *this;
}

Event& Event::hex(const char* name, const unsigned char* bytes, std::size_t size) {
    extend(line_, name, [&] {
        static const char digits[] = "0123456789ABCDEF";
        std::string text(2 * size + 2, '"');
        for (std::size_t i = 0; i < size; ++i) {
            text[1 + 2 * i] = digits[bytes[i] >> 4];
            text[2 + 2 * i] = digits[bytes[i] & 15];
        }
        return text;
    });
    return *this;
}

Event& Event::json(const char* name, const std::string& value) {
    extend(line_, name, [&]() -> const std::string& { return value; });
    return *this;
}

}  // namespace cardtrace
