// The troubleshooting side of the tool: the status log on the desktop, the installed-and-running
// report with its restart, and the service's debug and exceptions logs.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/trace.h"
#include "service_control.h"

namespace servicectl {
namespace {

constexpr const char* kDebugLogName = "\\VemraLog_debug.log";
constexpr const char* kExceptionsLogName = "\\VemraLog_exceptions.log";
constexpr const char* kStatusLogName = "\\VemraLog_systemstatus.log";
// The card programs' support trace, which they write only while it exists.
constexpr const char* kTraceName = "\\CardProgramsTrace.jsonl";
static_assert(std::string_view(kTraceName + 1) == cardtrace::kDesktopTraceFile);

// The first environment string deliberately continues the header's line.
constexpr const char* kEnvironmentHeader =
    "-------------------------List environment variables-----------------------------------";
constexpr const char* kRegistryHeader =
    "\r\n-------------------------Check Installer registry-----------------------------------\r\n";
constexpr const char* kLineEnd = "\r\n";

// The installer's uninstall entry, in the places the installer may have written it; the first one
// that opens decides.
struct InstallerKey {
    RegistryRoot root;
    const char* subKey;
};
constexpr InstallerKey kInstallerKeys[] = {
    {RegistryRoot::Users,
     ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
     "{5B3F0E72-A9C4-4E18-9D6B-27C1F08A4E93}_is1"},
    {RegistryRoot::LocalMachine,
     "Software\\WOW6432NODE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
     "{5B3F0E72-A9C4-4E18-9D6B-27C1F08A4E93}_is1"},
    {RegistryRoot::LocalMachine,
     "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
     "{5B3F0E72-A9C4-4E18-9D6B-27C1F08A4E93}_is1"},
};

void writeText(AppendFile* file, const char* text) {
    if (file) file->write(text, std::strlen(text));
}

}  // namespace

bool ServiceControl::logPath(const char* name, TextBuffer& path) {
    std::string desktop;
    if (!platform_.specialFolder(SpecialFolder::Desktop, desktop)) return false;
    return path.append(desktop) && path.append(name);
}

void ServiceControl::openStatusLog() {
    TextBuffer path;
    statusLog_.reset();
    if (logPath(kStatusLogName, path)) statusLog_ = platform_.openForAppend(path.c_str());
}

void ServiceControl::writeEnvironmentSection() {
    AppendFile* log = logSwitch_ ? statusLog_.get() : nullptr;
    writeText(log, kEnvironmentHeader);
    for (const std::string& entry : platform_.environmentStrings()) {
        if (log) log->write(entry.data(), entry.size());
        writeText(log, kLineEnd);
    }
}

bool ServiceControl::writeRegistrySection() {
    AppendFile* log = logSwitch_ ? statusLog_.get() : nullptr;
    writeText(log, kRegistryHeader);
    std::unique_ptr<RegistryKey> key;
    for (const InstallerKey& candidate : kInstallerKeys) {
        key = platform_.openRegistryKey(candidate.root, candidate.subKey);
        if (key) break;
    }
    if (!key) return false;

    char name[kPathBufferSize];
    unsigned char data[kPathBufferSize];
    for (std::uint32_t index = 0;; ++index) {
        std::uint32_t nameSize = sizeof name;
        std::uint32_t dataSize = sizeof data;
        std::uint32_t type = 0;
        // Ends at the last value, and also at a name or data too long for the buffers.
        if (!key->enumValue(index, name, nameSize, type, data, dataSize)) break;
        if (!log) continue;
        log->write(name, nameSize < sizeof name ? nameSize : sizeof name - 1);
        writeText(log, "=");
        // Other value types leave the line open, so the next name follows on the same line.
        if (type == kRegistryString) {
            std::size_t length = dataSize < sizeof data ? dataSize : sizeof data;
            const void* nul = std::memchr(data, '\0', length);
            if (nul) length = static_cast<const unsigned char*>(nul) - data;
            log->write(reinterpret_cast<const char*>(data), length);
            writeText(log, kLineEnd);
        }
    }
    return true;
}

void ServiceControl::statusReport() {
    TextBuffer path;
    if (logPath(kStatusLogName, path)) platform_.deleteFile(path.c_str());

    logSwitch_ = true;
    openStatusLog();
    writeEnvironmentSection();
    statusLog_.reset();

    openStatusLog();
    const bool installed = writeRegistrySection();
    statusLog_.reset();

    platform_.writeStdout(installed ? "Installed=1\n" : "Installed=0\n");

    if (!installed) {
        char text[kPathBufferSize];
        // The code carries no information; the box has always shown 0 there.
        std::snprintf(text, sizeof text, textFor(messages::kNotInstalled), 0);
        show(text, captions::kNone);
        return;
    }

    TextBuffer text;
    text.append(textFor(messages::kInstalled));
    openStatusLog();
    const int running = isServiceRunning();
    statusLog_.reset();

    if (running == 1) {
        text.append(textFor(messages::kRunningAppended));
        show(text.c_str(), captions::kNone);
    } else {
        text.append(textFor(messages::kRestartingAppended));
        show(text.c_str(), captions::kNone);
        startService(false);
    }
}

void ServiceControl::beginTroubleshooting() {
    show(textFor(messages::kBeginBox), captions::kNone);
    statusReport();
    // Opened for appending only: the service writes into them, and whatever it wrote in an earlier
    // session stays.
    logSwitch_ = true;
    TextBuffer debugPath;
    if (logPath(kDebugLogName, debugPath)) debugLog_ = platform_.openForAppend(debugPath.c_str());
    TextBuffer exceptionsPath;
    if (logPath(kExceptionsLogName, exceptionsPath)) {
        exceptionsLog_ = platform_.openForAppend(exceptionsPath.c_str());
    }
    // Created (or kept) and closed again: the card programs append to it from now on.
    TextBuffer tracePath;
    if (logPath(kTraceName, tracePath)) platform_.openForAppend(tracePath.c_str());
}

void ServiceControl::deleteLogs() {
    for (const char* name : {kDebugLogName, kExceptionsLogName, kStatusLogName, kTraceName}) {
        TextBuffer path;
        if (logPath(name, path)) platform_.deleteFile(path.c_str());
    }
}

void ServiceControl::defaultAction() {
    show(textFor(messages::kVersionBox), captions::kNone);
    statusReport();
}

}  // namespace servicectl
