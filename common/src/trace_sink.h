// The platform side of the trace: where its file is, the one append per line, and what the line
// header tells about the process.
#pragma once

#include <cstddef>
#include <string>

namespace cardtrace {
namespace sink {

// Opens the trace file for appending; false when the trace is off or the file cannot be opened.
bool open();
// Appends the bytes with one write, so lines of processes writing at once never interleave.
void append(const char* data, std::size_t size);
long long processId();
// The running program's file name without folder and suffix.
std::string programName();
std::string osVersion();
// The current UTC time as "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string utcNow();

}  // namespace sink
}  // namespace cardtrace
