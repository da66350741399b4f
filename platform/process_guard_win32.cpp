#include <windows.h>

#include <cstring>
#include <cwchar>

#include "process_guard.h"

namespace cardplatform {

namespace {

// The first token of a command line is the program name: a double quote toggles quoting, and
// a blank or tab outside quotes ends it (no backslash escapes there, unlike the arguments).
template <typename Char>
Char* afterProgramName(Char* line) {
    bool quoted = false;
    for (; *line != 0; ++line) {
        if (*line == '"')
            quoted = !quoted;
        else if (!quoted && (*line == ' ' || *line == '\t'))
            break;
    }
    return line;
}

template <typename Char>
void eraseAfterProgramName(Char* line, std::size_t (*length)(const Char*)) {
    if (line == nullptr) return;
    Char* tail = afterProgramName(line);
    // The text keeps its length: the process parameters record it, and other processes read
    // that many characters.
    SecureZeroMemory(tail, length(tail) * sizeof(Char));
}

}  // namespace

void keepMemoryPrivate() {}

void eraseArgument(char* argument) {
    if (argument != nullptr) SecureZeroMemory(argument, std::strlen(argument));
    eraseAfterProgramName<char>(GetCommandLineA(), &std::strlen);
    eraseAfterProgramName<wchar_t>(GetCommandLineW(), &std::wcslen);
}

}  // namespace cardplatform
