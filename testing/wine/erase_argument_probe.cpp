// Run under Windows (Wine) with a request holding the PIN 7351 as its one argument: erases the
// argument as the programs do and reports, line by line, what is left of the PIN in argv, in
// the process's two command-line texts (the wide one is what other processes read) and in the C
// runtime's copies (_acmdln, _wcmdln, __argv, __wargv when the runtime made it). Exit
// status 0 only when no PIN byte is left and the program name still stands in both texts.
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

// After the C runtime's own headers, which define what it needs.
#include <corecrt_startup.h>

#include "process_guard.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what);
    if (!ok) ++failures;
}

bool pinIn(const std::string& text) {
    return text.find("7351") != std::string::npos;
}
bool pinIn(const std::wstring& text) {
    return text.find(L"7351") != std::wstring::npos;
}

// The command line as other processes find it: through the process's basic information to its
// PEB, then the process parameters, over the length recorded there.
std::wstring parametersCommandLine() {
    PROCESS_BASIC_INFORMATION info{};
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &info, sizeof info,
                                  nullptr) != 0)
        return L"";
    const UNICODE_STRING& line = info.PebBaseAddress->ProcessParameters->CommandLine;
    return std::wstring(line.Buffer, line.Length / sizeof(wchar_t));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: erase_argument_probe REQUEST\n");
        return 2;
    }
    const std::size_t argumentLength = std::strlen(argv[1]);
    const std::size_t lengthA = std::strlen(GetCommandLineA());
    const std::size_t lengthW = std::wcslen(GetCommandLineW());
    const std::size_t runtimeLengthA = std::strlen(_acmdln);
    const std::size_t runtimeLengthW = std::wcslen(_wcmdln);
    const std::size_t runtimeArgumentLength = std::strlen(__argv[1]);
    // Where the PIN is before the erase and must not be after it, each text over its length from
    // before, NULs included, so that an erased part does not end the search early (argv[1]
    // itself is checked to be all NULs after).
    const struct {
        const char* name;
        std::function<bool()> holdsPin;
    } places[] = {
        {"argv[1]", [&] { return pinIn(std::string(argv[1], argumentLength)); }},
        {"GetCommandLineA", [&] { return pinIn(std::string(GetCommandLineA(), lengthA)); }},
        {"GetCommandLineW", [&] { return pinIn(std::wstring(GetCommandLineW(), lengthW)); }},
        {"the process parameters", [] { return pinIn(parametersCommandLine()); }},
        {"_acmdln", [&] { return pinIn(std::string(_acmdln, runtimeLengthA)); }},
        {"_wcmdln", [&] { return pinIn(std::wstring(_wcmdln, runtimeLengthW)); }},
        {"__argv[1]", [&] { return pinIn(std::string(__argv[1], runtimeArgumentLength)); }},
    };
    const std::size_t runtimeWideLength = __wargv != nullptr ? std::wcslen(__wargv[1]) : 0;
    for (const auto& place : places)
        check(place.holdsPin(), ("the PIN is in " + std::string(place.name) + " before").c_str());

    cardplatform::eraseArgument(argv[1]);

    check(std::string(argv[1], argumentLength) == std::string(argumentLength, '\0'),
          "argv[1] is all NULs after");
    for (const auto& place : places)
        if (place.name != places[0].name)
            check(!place.holdsPin(), ("no PIN in " + std::string(place.name) + " after").c_str());
    if (__wargv != nullptr)
        check(!pinIn(std::wstring(__wargv[1], runtimeWideLength)), "no PIN in __wargv[1] after");
    check(std::strstr(_acmdln, "erase_argument_probe") != nullptr &&
              std::strstr(__argv[0], "erase_argument_probe") != nullptr,
          "_acmdln and __argv[0] still name the program");
    check(std::strstr(GetCommandLineA(), "erase_argument_probe") != nullptr,
          "GetCommandLineA still names the program");
    check(std::wcsstr(GetCommandLineW(), L"erase_argument_probe") != nullptr,
          "GetCommandLineW still names the program");
    std::printf("GetCommandLineA after: [%s]\n", GetCommandLineA());
    return failures == 0 ? 0 : 1;
}
