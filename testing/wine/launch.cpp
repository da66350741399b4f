// Starts a console program the way the local service does on Windows: its process spawner builds
// one UTF-16 command line, quoting each argument by the Microsoft C runtime rules, and hands it to
// CreateProcessW. The program then parses argv itself, so what it sees depends on that quoting.
//
//   launch.exe PROGRAM [HEX ...]
//
// Each HEX is one argument's bytes in hexadecimal (bytes of the ANSI code page), so that Wine's
// own conversion of the launcher's command line cannot change them. The program inherits the
// standard handles; the launcher exits with its exit code (255 when it cannot start it). The
// program's working folder is the launcher's, or LAUNCH_WORKING_FOLDER when that is set.
//
// With LAUNCH_COMMAND_LINE set and no argument, it starts that command line byte for byte with
// CreateProcessA instead, inheriting nothing: Wine quotes every argument that holds a blank, so a
// tail such as "/start " with its trailing blank can only reach a program this way.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string fromHex(const char* hex) {
    std::string bytes;
    for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
        unsigned value = 0;
        std::sscanf(p, "%2x", &value);
        bytes += static_cast<char>(value);
    }
    return bytes;
}

std::wstring widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

// The spawner's quoting: an argument without blank, tab or quote goes as it is; otherwise it is
// put in double quotes, each quote inside written as \" and the backslashes in front of a quote
// (or of the closing quote) doubled, so the C runtime reads back the same text.
std::wstring quote(const std::wstring& arg) {
    if (arg.empty()) return L"\"\"";
    if (arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
    if (arg.find_first_of(L"\"\\") == std::wstring::npos) return L"\"" + arg + L"\"";
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') {
            quoted.append(backslashes * 2 + 1, L'\\');
        } else {
            quoted.append(backslashes, L'\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

// Wine's process creation fails now and then under load (codes 3 and 1359 seen, with the program
// and its folder in place); the service's own spawner is not what is tested here, so a failed
// start is tried again before it counts.
template <typename Start>
bool startWithRetries(Start start) {
    for (int attempt = 1; attempt <= 5; ++attempt) {
        if (start()) return true;
        if (attempt < 5) Sleep(200 * attempt);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    PROCESS_INFORMATION process = {};
    bool started = false;
    const char* raw = std::getenv("LAUNCH_COMMAND_LINE");
    if (argc == 1 && raw != nullptr) {
        std::string commandLine = raw;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        started = startWithRetries([&] {
            return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                  nullptr, &startup, &process) != 0;
        });
    } else if (argc >= 2) {
        const std::wstring program = widen(argv[1]);
        std::wstring commandLine = quote(program);
        for (int i = 2; i < argc; ++i) commandLine += L" " + quote(widen(fromHex(argv[i])));
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        const wchar_t* workingFolder = _wgetenv(L"LAUNCH_WORKING_FOLDER");
        started = startWithRetries([&] {
            return CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0,
                                  nullptr, workingFolder, &startup, &process) != 0;
        });
    } else {
        std::fprintf(stderr, "usage: launch.exe PROGRAM [HEX ...]\n");
        return 255;
    }
    if (!started) {
        std::fprintf(stderr, "launch.exe: CreateProcess failed: %lu\n", GetLastError());
        return 255;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 255;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
