// Prints the command line of each running process whose program file has the given name, read
// the way any process of the same user can: from the process's PEB, through its process
// parameters, over the length recorded there. One line per process, the UTF-16LE bytes in hex
// (NULs included); exit status 0 when at least one process was found and read.
//
//   command_line_of NAME
#include <windows.h>
// After windows.h, which they build on.
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <vector>

namespace {

template <typename T>
bool readFrom(HANDLE process, const void* address, T& out) {
    SIZE_T got = 0;
    return ReadProcessMemory(process, address, &out, sizeof out, &got) && got == sizeof out;
}

bool printCommandLine(DWORD id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
    if (process == nullptr) return false;
    bool printed = false;
    PROCESS_BASIC_INFORMATION info{};
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &info, sizeof info, nullptr) ==
            0 &&
        readFrom(process, info.PebBaseAddress, peb) &&
        readFrom(process, peb.ProcessParameters, parameters)) {
        std::vector<unsigned char> bytes(parameters.CommandLine.Length);
        SIZE_T got = 0;
        if (bytes.empty() || (ReadProcessMemory(process, parameters.CommandLine.Buffer,
                                                bytes.data(), bytes.size(), &got) &&
                              got == bytes.size())) {
            for (unsigned char b : bytes) std::printf("%02x", b);
            std::printf("\n");
            printed = true;
        }
    }
    CloseHandle(process);
    return printed;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: command_line_of NAME\n");
        return 2;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    bool found = false;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (_wcsicmp(entry.szExeFile, argv[1]) == 0 && printCommandLine(entry.th32ProcessID))
            found = true;
    }
    CloseHandle(snapshot);
    return found ? 0 : 1;
}
