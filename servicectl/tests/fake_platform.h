// A recording stand-in for the operating system: the tests set up processes, folders, registry
// keys and files, run the tool's logic and read back every call it made, in order.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

namespace servicectl {
namespace testing {

// The default machine's logs and trace, and the event of its start of the service.
const std::string kDesktop = "C:\\Users\\ann\\Desktop";
const std::string kDebugLog = kDesktop + "\\VemraLog_debug.log";
const std::string kExceptionsLog = kDesktop + "\\VemraLog_exceptions.log";
const std::string kStatusLog = kDesktop + "\\VemraLog_systemstatus.log";
const std::string kTrace = kDesktop + "\\CardProgramsTrace.jsonl";
const std::string kCreateEvent =
    "create \"C:\\Program Files (x86)\\VemraLocalSignServer\\node.exe\" vemraLocalServer.js in "
    "C:\\Program Files (x86)\\VemraLocalSignServer\\";

struct FakeProcess {
    std::uint32_t processId;
    std::string exeName;
    bool terminable = true;
};

struct FakeValue {
    std::string name;
    std::uint32_t type;
    std::string data;  // the raw bytes as the registry stores them, terminator included for strings
};

struct Box {
    std::string text;
    std::string caption;
    bool operator==(const Box& other) const {
        return text == other.text && caption == other.caption;
    }
};

class FakePlatform : public Platform {
  public:
    // What the machine looks like.
    SnapshotStatus snapshotStatus = SnapshotStatus::Ok;
    std::vector<FakeProcess> processes;
    bool hasProgramFiles = true;
    std::string programFiles = "C:\\Program Files (x86)";
    bool hasDesktop = true;
    std::string desktop = kDesktop;
    std::uint32_t createError = 0;  // non-zero: process creation fails with this code
    std::uint16_t uiLanguage = 0x0409;
    std::map<std::string, std::vector<FakeValue>> registry;  // keyed by registryName()
    std::vector<std::string> environment;
    std::map<std::string, std::string> files;
    std::set<std::string> missingFolders;  // files beneath these cannot be opened
    // Runs while the tool waits for a service it started.
    std::function<void()> whileServiceRuns;

    // What the tool did: one line per call, in call order.
    std::vector<std::string> events;
    std::vector<Box> boxes;
    std::string stdoutText;

    static std::string registryName(RegistryRoot root, const std::string& subKey);
    void addKey(RegistryRoot root, const std::string& subKey, std::vector<FakeValue> values) {
        registry[registryName(root, subKey)] = std::move(values);
    }
    // Events that start with `prefix`.
    std::vector<std::string> eventsStartingWith(const std::string& prefix) const;

    SnapshotStatus listProcesses(std::vector<ProcessEntry>& processes) override;
    bool terminateProcess(std::uint32_t processId) override;
    std::unique_ptr<ChildProcess> createProcess(const char* commandLine,
                                                const char* workingDirectory,
                                                std::uint32_t& errorCode) override;
    void messageBox(const char* text, const char* caption) override;
    std::uint16_t userUiLanguage() override { return uiLanguage; }
    bool specialFolder(SpecialFolder folder, std::string& path) override;
    std::unique_ptr<RegistryKey> openRegistryKey(RegistryRoot root, const char* subKey) override;
    std::vector<std::string> environmentStrings() override { return environment; }
    std::unique_ptr<AppendFile> openForAppend(const char* path) override;
    void deleteFile(const char* path) override;
    void writeStdout(const char* text) override;
};

}  // namespace testing
}  // namespace servicectl
