// A recording stand-in for the operating system: the tests set up processes, folders, registry
// keys and files, run the tool's logic and read back every call it made, in order.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform.h"
#include "service_control.h"

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
    bool operator==(const Box& o) const { return text == o.text && caption == o.caption; }
};
using Boxes = std::vector<Box>;
using Events = std::vector<std::string>;

// A started service that "runs" for as long as its wait takes.
struct FakeChild : ChildProcess {
    explicit FakeChild(std::function<void()> w) : wait(std::move(w)) {}
    void waitForExit() override { wait(); }
    std::function<void()> wait;
};

// Follows RegEnumValueA: a name needs room for its NUL, the data must fit whole.
struct FakeKey : RegistryKey {
    explicit FakeKey(const std::vector<FakeValue>& v) : values(v) {}
    bool enumValue(std::uint32_t index, char* name, std::uint32_t& nameSize, std::uint32_t& type,
                   unsigned char* data, std::uint32_t& dataSize) override {
        if (index >= values.size()) return false;
        const FakeValue& value = values[index];
        if (value.name.size() + 1 > nameSize || value.data.size() > dataSize) return false;
        std::memcpy(name, value.name.c_str(), value.name.size() + 1);
        std::memcpy(data, value.data.data(), value.data.size());
        nameSize = static_cast<std::uint32_t>(value.name.size());
        dataSize = static_cast<std::uint32_t>(value.data.size());
        type = value.type;
        return true;
    }
    std::vector<FakeValue> values;
};

// Writes by name, so a file deleted while open comes back on the next write, as on disk it would
// not vanish under an open handle either.
struct FakeFile : AppendFile {
    FakeFile(std::map<std::string, std::string>& f, std::string n) : files(f), name(std::move(n)) {}
    void write(const char* bytes, std::size_t length) override {
        files[name].append(bytes, length);
    }
    std::map<std::string, std::string>& files;
    std::string name;
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
    std::map<std::pair<RegistryRoot, std::string>, std::vector<FakeValue>> registry;
    std::vector<std::string> environment;
    std::map<std::string, std::string> files;
    std::set<std::string> missingFolders;  // files beneath these cannot be opened
    // Runs while the tool waits for a service it started.
    std::function<void()> whileServiceRuns;

    // What the tool did: one line per call, in call order.
    Events events;
    Boxes boxes;
    std::string stdoutText;

    Events eventsStartingWith(const std::string& prefix) const {
        Events found;
        for (const std::string& event : events) {
            if (event.compare(0, prefix.size(), prefix) == 0) found.push_back(event);
        }
        return found;
    }

    SnapshotStatus listProcesses(std::vector<ProcessEntry>& list) override {
        events.push_back("snapshot");
        if (snapshotStatus != SnapshotStatus::Ok) return snapshotStatus;
        for (const FakeProcess& process : processes)
            list.push_back({process.processId, process.exeName});
        return SnapshotStatus::Ok;
    }
    bool terminateProcess(std::uint32_t processId) override {
        events.push_back("terminate " + std::to_string(processId));
        auto found = std::find_if(processes.begin(), processes.end(),
                                  [&](const FakeProcess& p) { return p.processId == processId; });
        if (found == processes.end() || !found->terminable) return false;
        processes.erase(found);
        return true;
    }
    std::unique_ptr<ChildProcess> createProcess(const char* commandLine,
                                                const char* workingDirectory,
                                                std::uint32_t& errorCode) override {
        events.push_back(std::string("create ") + commandLine + " in " + workingDirectory);
        if (createError != 0) {
            errorCode = createError;
            return nullptr;
        }
        return std::make_unique<FakeChild>([this] {
            events.push_back("wait");
            if (whileServiceRuns) whileServiceRuns();
            events.push_back("service ended");
        });
    }
    void messageBox(const char* text, const char* caption) override {
        events.push_back(std::string("box ") + caption);
        boxes.push_back({text, caption});
    }
    std::uint16_t userUiLanguage() override { return uiLanguage; }
    bool specialFolder(SpecialFolder folder, std::string& path) override {
        const bool wantsDesktop = folder == SpecialFolder::Desktop;
        const bool has = wantsDesktop ? hasDesktop : hasProgramFiles;
        if (has) path = wantsDesktop ? desktop : programFiles;
        return has;
    }
    std::unique_ptr<RegistryKey> openRegistryKey(RegistryRoot root, const char* subKey) override {
        auto found = registry.find({root, subKey});
        if (found == registry.end()) return nullptr;
        return std::make_unique<FakeKey>(found->second);
    }
    std::vector<std::string> environmentStrings() override { return environment; }
    std::unique_ptr<AppendFile> openForAppend(const char* path) override {
        const std::string name(path);
        for (const std::string& folder : missingFolders) {
            if (name.compare(0, folder.size(), folder) == 0) {
                events.push_back("cannot open " + name);
                return nullptr;
            }
        }
        events.push_back("open " + name);
        files[name];  // opening for appending creates a missing file empty
        return std::make_unique<FakeFile>(files, name);
    }
    void deleteFile(const char* path) override {
        events.push_back(std::string("delete ") + path);
        files.erase(path);
    }
    void writeStdout(const char* text) override { stdoutText += text; }
};

// One run of the tool, whose exit status is always 0.
inline void run(FakePlatform& platform, const char* tail) {
    EXPECT_EQ(runServicectl(platform, tail), 0);
}

}  // namespace testing
}  // namespace servicectl
