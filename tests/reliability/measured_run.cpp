#include "measured_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace reliability {
namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string nameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

}  // namespace

MeasuredRun::MeasuredRun(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& env) {
    char folder[] = "/tmp/reliab-run-XXXXXX";
    if (!mkdtemp(folder)) throw std::runtime_error("mkdtemp failed");
    dir_ = folder;

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        bool replaced = false;
        for (const std::string& add : env) replaced = replaced || nameOf(add) == nameOf(*e);
        if (!replaced) envStore.emplace_back(*e);
    }
    for (const std::string& add : env)
        if (add.size() > nameOf(add).size() + 1) envStore.push_back(add);
    std::vector<char*> envp;
    for (std::string& e : envStore) envp.push_back(&e[0]);
    envp.push_back(nullptr);

    // Through the small launcher, so the peak is the program's own (see peak_rss_run.c).
    std::vector<std::string> argStore{PEAK_RSS_RUN_PATH, dir_ + "/peak", program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, (dir_ + "/out").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir_ + "/err").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int rc =
        posix_spawn(&pid_, PEAK_RSS_RUN_PATH, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(rc));
    }
}

MeasuredRun::~MeasuredRun() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    unlink((dir_ + "/out").c_str());
    unlink((dir_ + "/err").c_str());
    unlink((dir_ + "/peak").c_str());
    rmdir(dir_.c_str());
}

MeasuredResult MeasuredRun::wait() {
    MeasuredResult result;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    pid_ = -1;
    // The launcher passes the exit status on; 128 and above: the program died of a signal.
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.exitStatus = code >= 125 ? -1 : code;
    result.peakRssKb = std::strtol(readAll(dir_ + "/peak").c_str(), nullptr, 10);
    result.out = readAll(dir_ + "/out");
    result.err = readAll(dir_ + "/err");
    return result;
}

int openFiles(const std::string& pid) {
    DIR* d = opendir(("/proc/" + pid + "/fd").c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - (pid == "self" ? 1 : 0);  // the listing's own descriptor
}

long residentKb(const std::string& pid) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

std::string findProcess(const std::string& needle) {
    DIR* d = opendir("/proc");
    if (!d) return "";
    std::string found;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        std::string cmdline = readAll(std::string("/proc/") + e->d_name + "/cmdline");
        for (char& c : cmdline)
            if (c == '\0') c = ' ';
        // The daemon itself, not the shell or unshare that started it.
        if (cmdline.find(needle) != std::string::npos && cmdline.rfind("pcscd", 0) == 0) {
            found = e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

}  // namespace reliability
