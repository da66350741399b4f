// The support trace: when switched on, each program appends one JSON object per event to one
// file, so a failure in the field can be explained afterwards (which module file, which reader,
// which card, which command the card refused, how long each step took).
//
// Switched on by the environment variable CARD_TRACE_FILE naming the file (created if missing),
// or on Windows by the file CardProgramsTrace.jsonl on the user's desktop, which the service
// tool's troubleshooting mode creates and deletes; a program never creates that one. Off, every
// call below returns at once. A trace that cannot be written changes nothing else.
//
// Never pass a secret or card holder data to an event: no PIN in any form, no key, no MAC, no
// command or answer data; lengths, headers and status words only.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace cardtrace {

// The troubleshooting mode's trace file on the user's desktop (Windows): the service tool creates
// and deletes it; the programs append to it while it exists.
constexpr char kDesktopTraceFile[] = "CardProgramsTrace.jsonl";

// True when the trace is on. The first call decides, once per module copy (each program and
// each library has its own).
bool on();

// Milliseconds on a steady clock, for the durations that events carry.
double nowMs();

// The build's architecture ("x64", "x86", "arm64", ...) and the OS version text.
const char* buildArchitecture();
std::string osVersion();

// One trace line, written whole with one append when the object goes out of scope. Every line
// starts with time (UTC, milliseconds), program, version and process id, then "event". Build
// one only when on() is true; members added to an event built while off are dropped.
class Event {
  public:
    explicit Event(const char* name);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    Event& text(const char* key, const std::string& value);
    Event& text(const char* key, const char* value);
    // A fixed-width, blank-padded text as PKCS#11 structures carry it: trailing blanks dropped.
    Event& padded(const char* key, const unsigned char* value, std::size_t size);
    Event& number(const char* key, long long value);
    Event& unsignedNumber(const char* key, unsigned long long value);
    // A duration in milliseconds, with tenths.
    Event& ms(const char* key, double value);
    Event& flag(const char* key, bool value);
    // Bytes as upper-case hexadecimal; only for what is no secret (an ATR, a command header).
    Event& hex(const char* key, const unsigned char* bytes, std::size_t size);
    // A member whose value is already JSON (an array or object built with the helpers below).
    Event& json(const char* key, const std::string& value);

  private:
    std::string line_;
};

// `value` as a JSON string, quotes included; bytes that are no UTF-8 become \u00XX.
std::string quoted(const std::string& value);

// The time this copy spent waiting on another party (a PKCS#11 module, a card), summed over the
// process for the end-of-run line. Only counted while the trace is on.
void addWaitMs(double ms);
double waitMs();

// Measures a step from construction; ms() is the time so far.
class Stopwatch {
  public:
    Stopwatch() : start_(on() ? nowMs() : 0) {}
    double ms() const { return on() ? nowMs() - start_ : 0; }

  private:
    double start_;
};

}  // namespace cardtrace
