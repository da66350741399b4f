// The service control tool: one run performs the action of one command-line switch against the
// local card service (any process named node.exe) and reports it in message boxes.
#pragma once

#include <cstdint>
#include <memory>

#include "messages.h"
#include "platform.h"
#include "text_buffer.h"

namespace servicectl {

// Windows error codes shown in the creation-failure box when the tool cannot even compose the
// service command line: no Program Files folder, or a path that does not fit its buffer.
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorFilenameTooLong = 206;

class ServiceControl {
  public:
    explicit ServiceControl(Platform& platform) : platform_(platform) {}

    // Dispatches on the whole command-line tail, compared byte for byte.
    void run(const char* tail);

    // 1 when any process named node.exe runs; lists every process into the open status log.
    int isServiceRunning();
    // Terminates every node.exe; the outcome of the last attempt (non-zero: terminated).
    int stopAll();
    // Starts the service and holds until it ends: 1 then, 0 when it could not be started.
    int startService(bool withMessage);

    void statusReport();
    void beginTroubleshooting();
    void deleteLogs();

  private:
    void stopSwitch();
    void startSwitch();
    void firstStartSwitch();
    void endTroubleshooting();
    void defaultAction();

    void writeEnvironmentSection();
    bool writeRegistrySection();

    void show(const char* text, const char* caption);
    const char* textFor(const Text& text);

    // The desktop folder followed by `name`; false when the folder is unknown or the path does not
    // fit, and the caller then skips the file.
    bool logPath(const char* name, TextBuffer& path);
    void openStatusLog();
    void logLine(const char* text);
    // Takes the process snapshot and logs each name (or why there is none); false without one.
    bool listProcessesLogged(std::vector<ProcessEntry>& processes);

    Platform& platform_;
    // Set by the status report for the rest of the run: the process list goes into the status log.
    bool logSwitch_ = false;
    std::unique_ptr<AppendFile> statusLog_;
    // Held open until the tool ends, so the service finds them while troubleshooting.
    std::unique_ptr<AppendFile> debugLog_;
    std::unique_ptr<AppendFile> exceptionsLog_;
};

// One whole run of the tool, as the program's entry calls it: nothing escapes it (a failed
// allocation ends the run quietly) and the answer is always the exit status 0.
int runServicectl(Platform& platform, const char* tail) noexcept;

}  // namespace servicectl
