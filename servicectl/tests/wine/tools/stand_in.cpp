// Plays the local card service in the Wine tests: copied as node.exe, it records that it ran, with
// the working directory and command line it got, then either waits to be terminated or ends by
// itself after a while, noting which files it saw just before it ended.
//
// Settings come from the environment, which the tool hands on unchanged to what it starts:
//   STANDIN_RECORD       file that gets one line per event (start, watch, exit), tab-separated
//   STANDIN_LIFETIME_MS  milliseconds before ending by itself; absent: wait until terminated
//   STANDIN_WATCH        ';'-separated paths whose presence is noted just before ending
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace {

std::string environmentValue(const char* name) {
    char value[4096];
    DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
    if (length == 0 || length >= sizeof value) return std::string();
    return std::string(value, length);
}

void record(const std::string& path, const std::string& line) {
    if (path.empty()) return;
    FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) return;
    std::fwrite(line.data(), 1, line.size(), file);
    std::fclose(file);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string recordPath = environmentValue("STANDIN_RECORD");
    const std::string pid = std::to_string(GetCurrentProcessId());
    char directory[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof directory, directory);
    std::string cwd =
        length > 0 && length < sizeof directory ? std::string(directory, length) : "?";
    record(recordPath, "start\t" + pid + "\t" + cwd + "\t" + GetCommandLineA() + "\n");

    const std::string lifetime = environmentValue("STANDIN_LIFETIME_MS");
    if (lifetime.empty()) {
        Sleep(INFINITE);
        return 0;
    }
    Sleep(static_cast<DWORD>(std::strtoul(lifetime.c_str(), nullptr, 10)));

    std::istringstream watch(environmentValue("STANDIN_WATCH"));
    for (std::string path; std::getline(watch, path, ';');) {
        if (path.empty()) continue;
        const bool present = GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
        record(recordPath,
               "watch\t" + pid + "\t" + path + "\t" + (present ? "present" : "absent") + "\n");
    }
    record(recordPath, "exit\t" + pid + "\n");
    return 0;
}
