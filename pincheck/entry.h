// The program's entry: request in, one reply line out.
#pragma once

#include <cstdint>
#include <string>

namespace pincheck {

// The slot text as a position in the slot list, read the way C's atoi reads it (leading white
// space, an optional sign, digits up to the first other byte; no digits give 0). Values beyond
// the 32-bit range are held at its ends instead of overflowing; they name no slot either way.
std::int32_t slotFromText(const std::string& text);

// The failure line for a run that ran out of memory, {"func":"","ret_code":9988,"message":""},
// written to standard error from fixed bytes (building a reply could fail again). Returns the
// exit status, 1.
int writeOutOfMemoryReply();

// Runs one PIN check for the request in argv[1] and writes the reply. Returns the exit status:
// 0 after a normal reply on standard output, 1 after the failure reply on standard error.
int runPinCheck(int argc, const char* const* argv);

}  // namespace pincheck
