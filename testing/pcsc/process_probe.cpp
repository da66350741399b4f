#include "process_probe.h"

#include <grp.h>
#include <pwd.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "temp_dir.h"

namespace pcsctest {

std::string commandLineOf(pid_t pid) {
    return testsupport::readFile("/proc/" + std::to_string(pid) + "/cmdline");
}

CoreFilesAllowed::CoreFilesAllowed() {
    getrlimit(RLIMIT_CORE, &saved_);
    const rlimit raised = {saved_.rlim_max, saved_.rlim_max};
    setrlimit(RLIMIT_CORE, &raised);
}

CoreFilesAllowed::~CoreFilesAllowed() {
    setrlimit(RLIMIT_CORE, &saved_);
}

namespace {

bool coreFilesRefused(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/limits");
    const std::string label = "Max core file size";
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(label, 0) != 0) continue;
        std::istringstream limits(line.substr(label.size()));
        std::string soft, hard;
        limits >> soft >> hard;
        return soft == "0" && hard == "0";
    }
    return false;
}

uid_t procFilesOwner(pid_t pid) {
    struct stat st {};
    if (stat(("/proc/" + std::to_string(pid) + "/status").c_str(), &st) != 0)
        return static_cast<uid_t>(-1);
    return st.st_uid;
}

int attachErrorAs(uid_t uid, gid_t gid, pid_t pid) {
    const pid_t probe = fork();
    if (probe < 0) return errno;
    if (probe == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(255);
        // Seize, unlike attach, does not stop the target; the probe's exit detaches it again.
        _exit(ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) == 0 ? 0 : errno);
    }
    int status = 0;
    while (waitpid(probe, &status, 0) < 0)
        if (errno != EINTR) return errno;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

}  // namespace

OutsideView lookAs(uid_t uid, gid_t gid, pid_t pid) {
    OutsideView view;
    view.filesOwner = procFilesOwner(pid);
    view.attachError = attachErrorAs(uid, gid, pid);
    view.coreFilesRefused = coreFilesRefused(pid);
    // An exited program has an empty command line.
    view.running = !commandLineOf(pid).empty();
    return view;
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs, int intervalMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
    return true;
}

std::string copyForAnyUser(const std::string& file, const std::string& folder,
                           const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path copy = fs::path(folder) / name;
    fs::copy_file(file, copy, fs::copy_options::overwrite_existing);
    fs::permissions(copy, fs::perms(0755));
    fs::permissions(folder, fs::perms(0755));
    return copy.string();
}

bool nobodyUser(uid_t& uid, gid_t& gid) {
    const passwd* entry = getpwnam("nobody");
    if (entry == nullptr) return false;
    uid = entry->pw_uid;
    gid = entry->pw_gid;
    return true;
}

}  // namespace pcsctest
