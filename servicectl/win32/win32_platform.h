// The Win32 calls behind each platform operation; nothing is decided here.
#pragma once

#include "../platform.h"

namespace servicectl {

class Win32Platform : public Platform {
  public:
    SnapshotStatus listProcesses(std::vector<ProcessEntry>& processes) override;
    bool terminateProcess(std::uint32_t processId) override;
    std::unique_ptr<ChildProcess> createProcess(const char* commandLine,
                                                const char* workingDirectory,
                                                std::uint32_t& errorCode) override;
    void messageBox(const char* text, const char* caption) override;
    std::uint16_t userUiLanguage() override;
    bool specialFolder(SpecialFolder folder, std::string& path) override;
    std::unique_ptr<RegistryKey> openRegistryKey(RegistryRoot root, const char* subKey) override;
    std::vector<std::string> environmentStrings() override;
    std::unique_ptr<AppendFile> openForAppend(const char* path) override;
    void deleteFile(const char* path) override;
    void writeStdout(const char* text) override;
};

}  // namespace servicectl
