#include "fake_platform.h"

#include <algorithm>
#include <cstring>

namespace servicectl {
namespace testing {
namespace {

class FakeChild : public ChildProcess {
  public:
    explicit FakeChild(FakePlatform& platform) : platform_(platform) {}
    void waitForExit() override {
        platform_.events.push_back("wait");
        if (platform_.whileServiceRuns) platform_.whileServiceRuns();
        platform_.events.push_back("service ended");
    }

  private:
    FakePlatform& platform_;
};

// Follows RegEnumValueA: a name needs room for its NUL, the data must fit whole.
class FakeKey : public RegistryKey {
  public:
    explicit FakeKey(const std::vector<FakeValue>& values) : values_(values) {}
    bool enumValue(std::uint32_t index, char* name, std::uint32_t& nameSize, std::uint32_t& type,
                   unsigned char* data, std::uint32_t& dataSize) override {
        if (index >= values_.size()) return false;
        const FakeValue& value = values_[index];
        if (value.name.size() + 1 > nameSize || value.data.size() > dataSize) return false;
        std::memcpy(name, value.name.c_str(), value.name.size() + 1);
        std::memcpy(data, value.data.data(), value.data.size());
        nameSize = static_cast<std::uint32_t>(value.name.size());
        dataSize = static_cast<std::uint32_t>(value.data.size());
        type = value.type;
        return true;
    }

  private:
    std::vector<FakeValue> values_;
};

// Writes by name, so a file deleted while open comes back on the next write, as on disk it would
// not vanish under an open handle either.
class FakeFile : public AppendFile {
  public:
    FakeFile(FakePlatform& platform, std::string name)
        : platform_(platform), name_(std::move(name)) {}
    void write(const char* bytes, std::size_t length) override {
        platform_.files[name_].append(bytes, length);
    }

  private:
    FakePlatform& platform_;
    std::string name_;
};

}  // namespace

std::string FakePlatform::registryName(RegistryRoot root, const std::string& subKey) {
    return (root == RegistryRoot::Users ? "HKU\\" : "HKLM\\") + subKey;
}

std::vector<std::string> FakePlatform::eventsStartingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& event : events) {
        if (event.compare(0, prefix.size(), prefix) == 0) found.push_back(event);
    }
    return found;
}

SnapshotStatus FakePlatform::listProcesses(std::vector<ProcessEntry>& list) {
    events.push_back("snapshot");
    if (snapshotStatus != SnapshotStatus::Ok) return snapshotStatus;
    for (const FakeProcess& process : processes)
        list.push_back({process.processId, process.exeName});
    return SnapshotStatus::Ok;
}

bool FakePlatform::terminateProcess(std::uint32_t processId) {
    events.push_back("terminate " + std::to_string(processId));
    auto found = std::find_if(processes.begin(), processes.end(),
                              [&](const FakeProcess& p) { return p.processId == processId; });
    if (found == processes.end() || !found->terminable) return false;
    processes.erase(found);
    return true;
}

std::unique_ptr<ChildProcess> FakePlatform::createProcess(const char* commandLine,
                                                          const char* workingDirectory,
                                                          std::uint32_t& errorCode) {
    events.push_back(std::string("create ") + commandLine + " in " + workingDirectory);
    if (createError != 0) {
        errorCode = createError;
        return nullptr;
    }
    return std::unique_ptr<ChildProcess>(new FakeChild(*this));
}

void FakePlatform::messageBox(const char* text, const char* caption) {
    events.push_back(std::string("box ") + caption);
    boxes.push_back({text, caption});
}

bool FakePlatform::specialFolder(SpecialFolder folder, std::string& path) {
    if (folder == SpecialFolder::Desktop) {
        if (hasDesktop) path = desktop;
        return hasDesktop;
    }
    if (hasProgramFiles) path = programFiles;
    return hasProgramFiles;
}

std::unique_ptr<RegistryKey> FakePlatform::openRegistryKey(RegistryRoot root, const char* subKey) {
    auto found = registry.find(registryName(root, subKey));
    if (found == registry.end()) return nullptr;
    return std::unique_ptr<RegistryKey>(new FakeKey(found->second));
}

std::unique_ptr<AppendFile> FakePlatform::openForAppend(const char* path) {
    std::string name(path);
    for (const std::string& folder : missingFolders) {
        if (name.compare(0, folder.size(), folder) == 0) {
            events.push_back("cannot open " + name);
            return nullptr;
        }
    }
    events.push_back("open " + name);
    files[name];  // opening for appending creates a missing file empty
    return std::unique_ptr<AppendFile>(new FakeFile(*this, name));
}

void FakePlatform::deleteFile(const char* path) {
    events.push_back(std::string("delete ") + path);
    files.erase(path);
}

void FakePlatform::writeStdout(const char* text) {
    stdoutText += text;
}

}  // namespace testing
}  // namespace servicectl
