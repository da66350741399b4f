#include <windows.h>

#include <cstring>
#include <cwchar>

#include "process_guard.h"

namespace cardplatform {

namespace {

std::size_t textLength(const char* text) {
    return std::strlen(text);
}
std::size_t textLength(const wchar_t* text) {
    return std::wcslen(text);
}

// The first token of a command line is the program name: a double quote toggles quoting, and a
// blank or tab outside quotes ends it (no backslash escapes there, unlike the arguments). All
// after it is overwritten; the text keeps its length, since the process parameters record it
// and other processes read that many characters.
template <typename Char>
void eraseAfterProgramName(Char* line) {
    if (line == nullptr) return;
    bool quoted = false;
    for (; *line != 0; ++line) {
        if (*line == '"')
            quoted = !quoted;
        else if (!quoted && (*line == ' ' || *line == '\t'))
            break;
    }
    SecureZeroMemory(line, textLength(line) * sizeof(Char));
}

}  // namespace

void keepMemoryPrivate() {}

void eraseArgument(char* argument) {
    if (argument != nullptr) SecureZeroMemory(argument, std::strlen(argument));
    eraseAfterProgramName(GetCommandLineA());
    eraseAfterProgramName(GetCommandLineW());
}

}  // namespace cardplatform
