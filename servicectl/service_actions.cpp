// The service actions: finding, stopping and starting the local card service, and the switch
// dispatch.
#include <cstdio>
#include <cstring>
#include <vector>

#include "service_control.h"

namespace servicectl {
namespace {

// The service is recognised by its program name alone, wherever it was started from, so a copy
// started by hand or by an older installation counts as the service too.
constexpr const char* kServiceProcessName = "node.exe";
constexpr const char* kServiceFolder = "\\VemraLocalSignServer\\";
constexpr const char* kServiceProgram = "node.exe";
constexpr const char* kServiceScript = "vemraLocalServer.js";

constexpr const char* kProcessListHeader =
    "\r\n-------------------------List all process-----------------------------------\r\n";
constexpr const char* kSnapshotFailedLine = "Failed to createToolhelp32Snapshot (of processes)\r\n";
constexpr const char* kFirstEntryFailedLine = "Failed in process32First\r\n";
constexpr const char* kProcessLineFormat = "PROCESS NAME:  %s\r\n";

}  // namespace

void ServiceControl::run(const char* tail) {
    if (std::strcmp(tail, "/start") == 0) {
        startSwitch();
    } else if (std::strcmp(tail, "/stop") == 0) {
        stopSwitch();
    } else if (std::strcmp(tail, "/firststart") == 0) {
        firstStartSwitch();
    } else if (std::strcmp(tail, "/debugEnd") == 0) {
        endTroubleshooting();
    } else if (std::strcmp(tail, "/?") == 0) {
        show(textFor(messages::kUsage), captions::kError);
    } else if (std::strcmp(tail, "/debugBegin") == 0 || std::strcmp(tail, "/debug") == 0) {
        beginTroubleshooting();
    } else {
        defaultAction();
    }
}

const char* ServiceControl::textFor(const Text& text) {
    return text.in(platform_.userUiLanguage());
}

void ServiceControl::show(const char* text, const char* caption) {
    platform_.messageBox(text, caption);
}

void ServiceControl::logLine(const char* text) {
    if (logSwitch_ && statusLog_) statusLog_->write(text, std::strlen(text));
}

bool ServiceControl::listProcessesLogged(std::vector<ProcessEntry>& processes) {
    switch (platform_.listProcesses(processes)) {
        case SnapshotStatus::SnapshotFailed:
            logLine(kSnapshotFailedLine);
            return false;
        case SnapshotStatus::FirstEntryFailed:
            logLine(kFirstEntryFailedLine);
            return false;
        case SnapshotStatus::Ok:
            break;
    }
    for (const ProcessEntry& process : processes) {
        // A process name is at most MAX_PATH bytes, so its line always fits.
        char line[kPathBufferSize + 32];
        std::snprintf(line, sizeof line, kProcessLineFormat, process.exeName.c_str());
        logLine(line);
    }
    return true;
}

int ServiceControl::isServiceRunning() {
    logLine(kProcessListHeader);
    std::vector<ProcessEntry> processes;
    if (!listProcessesLogged(processes)) return 0;
    int running = 0;
    for (const ProcessEntry& process : processes)
        if (process.exeName == kServiceProcessName) running = 1;
    return running;
}

int ServiceControl::stopAll() {
    std::vector<ProcessEntry> processes;
    if (!listProcessesLogged(processes)) return 0;
    int result = 0;
    for (const ProcessEntry& process : processes) {
        // Every match is tried; the last one decides what the user is told.
        if (process.exeName == kServiceProcessName)
            result = platform_.terminateProcess(process.processId) ? 1 : 0;
    }
    return result;
}

int ServiceControl::startService(bool withMessage) {
    // The program path is quoted: it holds blanks ("Program Files"), and unquoted the system would
    // first try to run "C:\Program.exe" and the like, whoever placed them there.
    std::string programFiles;
    TextBuffer folder;
    TextBuffer commandLine;
    std::uint32_t error = 0;
    std::unique_ptr<ChildProcess> service;
    if (!platform_.specialFolder(SpecialFolder::ProgramFiles, programFiles)) {
        error = kErrorPathNotFound;
    } else if (!folder.append(programFiles) || !folder.append(kServiceFolder) ||
               !commandLine.append("\"") || !commandLine.append(folder.c_str()) ||
               !commandLine.append(kServiceProgram) || !commandLine.append("\" ") ||
               !commandLine.append(kServiceScript)) {
        // Started cut short, the command line would name another program; it is not started.
        error = kErrorFilenameTooLong;
    } else {
        service = platform_.createProcess(commandLine.c_str(), folder.c_str(), error);
    }
    if (!service) {
        char code[kPathBufferSize];
        std::snprintf(code, sizeof code, messages::kCreationFailedFormat, error);
        show(code, captions::kCaption);
        show(textFor(messages::kCannotInitialize), captions::kError);
        return 0;
    }
    if (withMessage) show(textFor(messages::kStarts), captions::kMessage);
    service->waitForExit();
    return 1;
}

void ServiceControl::stopSwitch() {
    if (isServiceRunning() == 0) {
        show(textFor(messages::kNotRunning), captions::kError);
    } else if (stopAll() != 0) {
        show(textFor(messages::kStopped), captions::kOk);
    } else {
        show(textFor(messages::kStopFailed), captions::kError);
    }
}

void ServiceControl::startSwitch() {
    if (isServiceRunning() == 1) {
        show(textFor(messages::kAlreadyRunning), captions::kError);
    } else {
        startService(true);
    }
}

void ServiceControl::firstStartSwitch() {
    if (isServiceRunning() == 1) return;
    // The logs go only once the service has ended (or could not start), so a first run after
    // installation leaves no troubleshooting files behind.
    startService(false);
    deleteLogs();
}

void ServiceControl::endTroubleshooting() {
    show(textFor(messages::kTroubleshootingEnded), captions::kNone);
    if (isServiceRunning() == 1) stopAll();
    deleteLogs();
    startService(false);
}

int runServicectl(Platform& platform, const char* tail) noexcept {
    try {
        ServiceControl tool(platform);
        tool.run(tail != nullptr ? tail : "");
    } catch (...) {
        // Only a failed allocation can get here; the tool has nothing left to tell the user.
    }
    return 0;
}

}  // namespace servicectl
