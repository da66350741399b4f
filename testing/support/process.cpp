#include "process.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testsupport {
namespace {

std::string nameOf(const std::string& entry) {
    return entry.substr(0, entry.find('='));
}

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

std::vector<std::string> environmentFor(const ProcessOptions& options) {
    std::vector<std::string> replaced = options.unset;
    for (const std::string& add : options.env) replaced.push_back(nameOf(add));
    std::vector<std::string> entries;
    for (char** e = environ; *e; ++e)
        if (!listed(replaced, nameOf(*e))) entries.emplace_back(*e);
    for (const std::string& add : options.env)
        if (!listed(options.unset, nameOf(add))) entries.push_back(add);
    return entries;
}

// The file exec would run for `program`: looked up on PATH here, before the fork, because the
// child of a threaded test process may only make async-signal-safe calls.
std::string resolve(const std::string& program, bool searchPath) {
    if (!searchPath || program.find('/') != std::string::npos) return program;
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = folders.find(':', start);
        std::string folder = folders.substr(start, end - start);
        const std::string candidate = (folder.empty() ? "." : folder) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) return program;
        start = end + 1;
    }
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) p.push_back(&s[0]);
    p.push_back(nullptr);
    return p;
}

}  // namespace

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const ProcessOptions& options)
    : group_(options.ownProcessGroup), measured_(options.measurePeakMemory) {
    const std::string file = resolve(program, options.searchPath);
    std::vector<std::string> argStore;
    if (measured_) argStore = {PEAK_RSS_RUN_PATH, files_.file("peak")};
    argStore.push_back(file);
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<std::string> envStore = environmentFor(options);
    std::vector<char*> argv = pointers(argStore);
    std::vector<char*> envp = pointers(envStore);
    const std::string outPath = files_.file("out");
    const std::string errPath = files_.file("err");

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("cannot start " + program + ": fork failed");
    if (pid_ > 0) return;
    if (group_) setpgid(0, 0);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    // The streams are open before the user changes, so the folder may stay the test's own.
    if (options.uid != static_cast<uid_t>(-1) &&
        (setgroups(0, nullptr) != 0 || setgid(options.gid) != 0 || setuid(options.uid) != 0))
        _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
}

Process::~Process() {
    if (pid_ > 0) stop(SIGKILL);
}

void Process::stop(int signal) {
    if (pid_ <= 0) return;
    if (group_) kill(-pid_, signal);
    kill(pid_, signal);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

ProcessResult Process::wait(int limitSeconds) {
    ProcessResult result;
    if (pid_ <= 0) return result;
    int status = 0;
    if (limitSeconds <= 0) {
        while (waitpid(pid_, &status, 0) < 0)
            if (errno != EINTR) throw std::runtime_error("waitpid failed");
        result.finished = true;
    } else {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
        for (;;) {
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                result.finished = true;
                break;
            }
            if (done < 0 || std::chrono::steady_clock::now() > deadline) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (result.finished) {
        pid_ = -1;
        if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
        if (measured_) {
            // The launcher passes the exit status on, 128 + the signal for a program that died
            // of one; 125 to 127: it could not start the program.
            if (result.exitStatus >= 128) result.signal = result.exitStatus - 128;
            if (result.exitStatus >= 125) result.exitStatus = -1;
            result.peakRssKb = std::strtol(readFile(files_.file("peak")).c_str(), nullptr, 10);
        }
    } else {
        stop(SIGKILL);
    }
    result.out = readFile(files_.file("out"));
    result.err = readFile(files_.file("err"));
    return result;
}

}  // namespace testsupport
