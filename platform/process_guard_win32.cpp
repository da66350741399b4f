#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

// After the C runtime's own headers, which define what it needs.
#include <corecrt_startup.h>

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

// Every argument after the program name, whole. The runtime's __wargv exists only once something
// asked for the wide arguments; then it is a parse of its own.
template <typename Char>
void eraseArguments(int count, Char** arguments) {
    if (arguments == nullptr) return;
    for (int i = 1; i < count; ++i)
        if (arguments[i] != nullptr)
            SecureZeroMemory(arguments[i], textLength(arguments[i]) * sizeof(Char));
}

}  // namespace

void keepMemoryPrivate() {}

void keepLibrarySearchToInstalledFolders() {
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void eraseArgument(char* argument) {
    if (argument != nullptr) SecureZeroMemory(argument, std::strlen(argument));
    eraseAfterProgramName(GetCommandLineA());
    eraseAfterProgramName(GetCommandLineW());
    // The C runtime made copies of its own before main: the command line as it read it and its
    // parse into arguments (main's argv may be yet another copy).
    eraseAfterProgramName(_acmdln);
    eraseAfterProgramName(_wcmdln);
    eraseArguments(__argc, __argv);
    eraseArguments(__argc, __wargv);
}

}  // namespace cardplatform
