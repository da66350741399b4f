#include "win32_platform.h"

#include <shlobj.h>
#include <tlhelp32.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace servicectl {
namespace {

// Read access in the 64-bit registry view, where the installer writes its uninstall entry even
// when this tool is the 32-bit build.
constexpr REGSAM kInstallerKeyAccess = KEY_READ | KEY_WOW64_64KEY;

class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid()) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

  private:
    HANDLE handle_;
};

class Win32ChildProcess : public ChildProcess {
  public:
    explicit Win32ChildProcess(const PROCESS_INFORMATION& info)
        : process_(info.hProcess), thread_(info.hThread) {}
    void waitForExit() override { WaitForSingleObject(process_.get(), INFINITE); }

  private:
    Handle process_;
    Handle thread_;
};

class Win32RegistryKey : public RegistryKey {
  public:
    explicit Win32RegistryKey(HKEY key) : key_(key) {}
    ~Win32RegistryKey() override { RegCloseKey(key_); }
    Win32RegistryKey(const Win32RegistryKey&) = delete;
    Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

    bool enumValue(std::uint32_t index, char* name, std::uint32_t& nameSize, std::uint32_t& type,
                   unsigned char* data, std::uint32_t& dataSize) override {
        DWORD nameLength = nameSize;
        DWORD dataLength = dataSize;
        DWORD valueType = 0;
        LONG status =
            RegEnumValueA(key_, index, name, &nameLength, nullptr, &valueType, data, &dataLength);
        if (status != ERROR_SUCCESS) return false;
        nameSize = nameLength;
        dataSize = dataLength;
        type = valueType;
        return true;
    }

  private:
    HKEY key_;
};

class CrtAppendFile : public AppendFile {
  public:
    explicit CrtAppendFile(FILE* file) : file_(file) {}
    ~CrtAppendFile() override { std::fclose(file_); }
    CrtAppendFile(const CrtAppendFile&) = delete;
    CrtAppendFile& operator=(const CrtAppendFile&) = delete;
    void write(const char* bytes, std::size_t length) override {
        std::fwrite(bytes, 1, length, file_);
    }

  private:
    FILE* file_;
};

}  // namespace

SnapshotStatus Win32Platform::listProcesses(std::vector<ProcessEntry>& processes) {
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return SnapshotStatus::SnapshotFailed;
    PROCESSENTRY32 entry;
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    if (!Process32First(snapshot.get(), &entry)) return SnapshotStatus::FirstEntryFailed;
    do {
        // The name field is a fixed array; never read past it even without a terminator.
        std::size_t length = strnlen(entry.szExeFile, sizeof entry.szExeFile);
        processes.push_back({entry.th32ProcessID, std::string(entry.szExeFile, length)});
    } while (Process32Next(snapshot.get(), &entry));
    return SnapshotStatus::Ok;
}

bool Win32Platform::terminateProcess(std::uint32_t processId) {
    Handle process(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    if (!process.valid()) return false;
    return TerminateProcess(process.get(), 0) != FALSE;
}

std::unique_ptr<ChildProcess> Win32Platform::createProcess(const char* commandLine,
                                                           const char* workingDirectory,
                                                           std::uint32_t& errorCode) {
    // CreateProcessA may write into its command line, so it gets a copy of its own.
    char line[kPathBufferSize];
    std::size_t length = std::strlen(commandLine);
    if (length >= sizeof line) {
        errorCode = ERROR_FILENAME_EXCED_RANGE;
        return nullptr;
    }
    std::memcpy(line, commandLine, length + 1);

    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof startup);
    PROCESS_INFORMATION info;
    std::memset(&info, 0, sizeof info);
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        workingDirectory, &startup, &info)) {
        errorCode = GetLastError();
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new Win32ChildProcess(info));
}

void Win32Platform::messageBox(const char* text, const char* caption) {
    MessageBoxA(nullptr, text, caption, MB_OK);
}

std::uint16_t Win32Platform::userUiLanguage() {
    return GetUserDefaultUILanguage();
}

bool Win32Platform::specialFolder(SpecialFolder folder, std::string& path) {
    char buffer[MAX_PATH];
    buffer[0] = '\0';
    int id = folder == SpecialFolder::Desktop ? CSIDL_DESKTOP : CSIDL_PROGRAM_FILES;
    if (!SHGetSpecialFolderPathA(nullptr, buffer, id, FALSE)) return false;
    path.assign(buffer, strnlen(buffer, sizeof buffer));
    return true;
}

std::unique_ptr<RegistryKey> Win32Platform::openRegistryKey(RegistryRoot root, const char* subKey) {
    HKEY parent = root == RegistryRoot::Users ? HKEY_USERS : HKEY_LOCAL_MACHINE;
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, subKey, 0, kInstallerKeyAccess, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return std::unique_ptr<RegistryKey>(new Win32RegistryKey(key));
}

std::vector<std::string> Win32Platform::environmentStrings() {
    std::vector<std::string> strings;
    // Freed also when a copy below runs out of memory.
    const std::unique_ptr<char, decltype(&FreeEnvironmentStringsA)> block(GetEnvironmentStrings(),
                                                                          &FreeEnvironmentStringsA);
    if (block == nullptr) return strings;
    // The block is a run of NUL-terminated strings ended by an empty one.
    for (const char* entry = block.get(); *entry != '\0'; entry += std::strlen(entry) + 1) {
        strings.emplace_back(entry);
    }
    return strings;
}

std::unique_ptr<AppendFile> Win32Platform::openForAppend(const char* path) {
    FILE* file = std::fopen(path, "ab");
    if (file == nullptr) return nullptr;
    return std::unique_ptr<AppendFile>(new CrtAppendFile(file));
}

void Win32Platform::deleteFile(const char* path) {
    std::remove(path);
}

void Win32Platform::writeStdout(const char* text) {
    std::fputs(text, stdout);
    std::fflush(stdout);
}

}  // namespace servicectl
