// How a fuzz target fails a run that breaks one of its rules beyond the sanitizers': the rule
// (and what the run gave) on standard error, then abort, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzzsupport {

// The target's name in its messages; each target defines it.
extern const char* const kFuzzerName;

inline void require(bool condition, const char* what, const std::string& detail = "") {
    if (condition) return;
    std::fprintf(stderr, "%s: %s\n", kFuzzerName, what);
    if (!detail.empty()) std::fprintf(stderr, "%s\n", detail.c_str());
    std::abort();
}

// FUZZ_TRACE=1: a replayed input shows what it did.
inline bool tracing() {
    static const bool on = std::getenv("FUZZ_TRACE") != nullptr;
    return on;
}

}  // namespace fuzzsupport
