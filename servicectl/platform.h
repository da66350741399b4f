// The operating-system side of the service control tool. The tool's behaviour is written against
// this interface only, so that it runs unchanged on Windows (win32/) and under a recording fake in
// the unit tests. Each member is one thin system service; all decisions live in the logic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace servicectl {

// Windows paths and the tool's composed texts live in buffers of MAX_PATH bytes, NUL included.
constexpr std::size_t kPathBufferSize = 260;

// Registry value type of a plain string (REG_SZ).
constexpr std::uint32_t kRegistryString = 1;

enum class SpecialFolder {
    Desktop,       // the user's desktop, where the troubleshooting logs are kept
    ProgramFiles,  // the Program Files folder of the tool's own bitness
};

enum class RegistryRoot { Users, LocalMachine };

struct ProcessEntry {
    std::uint32_t processId;
    std::string exeName;  // the executable file name as the process snapshot spells it
};

enum class SnapshotStatus {
    Ok,
    SnapshotFailed,    // no snapshot of the process list could be taken
    FirstEntryFailed,  // the snapshot was taken but its first entry could not be read
};

// A started process. Destroying it closes the process and thread handles; it does not end the
// process.
class ChildProcess {
  public:
    virtual ~ChildProcess() = default;
    // Blocks without a time limit until the process has ended.
    virtual void waitForExit() = 0;
};

// An open registry key, closed on destruction.
class RegistryKey {
  public:
    virtual ~RegistryKey() = default;
    // Reads the value at `index`. `nameSize` and `dataSize` carry the buffer sizes in (the name
    // size counts the NUL) and the stored lengths out (the name length without its NUL, the data
    // length in bytes). Returns false when there is no such value or it does not fit the buffers.
    virtual bool enumValue(std::uint32_t index, char* name, std::uint32_t& nameSize,
                           std::uint32_t& type, unsigned char* data, std::uint32_t& dataSize) = 0;
};

// A file opened for appending in binary mode, closed on destruction.
class AppendFile {
  public:
    virtual ~AppendFile() = default;
    virtual void write(const char* bytes, std::size_t length) = 0;
};

class Platform {
  public:
    virtual ~Platform() = default;

    // Every process on the machine in snapshot order; `processes` is filled only on Ok.
    virtual SnapshotStatus listProcesses(std::vector<ProcessEntry>& processes) = 0;
    // Opens the process with terminate access only and ends it with exit code 0.
    virtual bool terminateProcess(std::uint32_t processId) = 0;
    // Starts `commandLine` (no separate application name, no handle inheritance, no window, the
    // tool's environment) in `workingDirectory`. Null on failure, with the system error code in
    // `errorCode`.
    virtual std::unique_ptr<ChildProcess> createProcess(const char* commandLine,
                                                        const char* workingDirectory,
                                                        std::uint32_t& errorCode) = 0;

    // An ANSI message box; returns when the user closes it.
    virtual void messageBox(const char* text, const char* caption) = 0;
    virtual std::uint16_t userUiLanguage() = 0;

    // False when the system cannot name the folder.
    virtual bool specialFolder(SpecialFolder folder, std::string& path) = 0;

    // Opens the key for reading in the 64-bit registry view; null when it does not open.
    virtual std::unique_ptr<RegistryKey> openRegistryKey(RegistryRoot root, const char* subKey) = 0;

    // The strings of the tool's environment block ("NAME=value") in block order.
    virtual std::vector<std::string> environmentStrings() = 0;

    // Null when the file cannot be opened; an existing file keeps its content.
    virtual std::unique_ptr<AppendFile> openForAppend(const char* path) = 0;
    // A file that does not exist is no error.
    virtual void deleteFile(const char* path) = 0;
    virtual void writeStdout(const char* text) = 0;
};

}  // namespace servicectl
