// What other processes can see of a running program: its command line, who owns its /proc
// files, and whether a process of the same user can attach to it as a debugger.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <functional>
#include <string>

namespace pcsctest {

// /proc/<pid>/cmdline as the kernel gives it: the argument bytes, each ending in a NUL. Empty
// once the process has exited.
std::string commandLineOf(pid_t pid);

// Raises this process's core file size limit to its hard limit while it lives, so that programs
// started meanwhile inherit one above 0 and a limit of 0 seen in them is their own doing.
class CoreFilesAllowed {
  public:
    CoreFilesAllowed();
    ~CoreFilesAllowed();
    CoreFilesAllowed(const CoreFilesAllowed&) = delete;
    CoreFilesAllowed& operator=(const CoreFilesAllowed&) = delete;

  private:
    rlimit saved_{};
};

// What a process of another user finds of a running program.
struct OutsideView {
    // The program still ran after the looks below.
    bool running = false;
    // Owner of /proc/<pid>/status: root while the program is not dumpable.
    uid_t filesOwner = static_cast<uid_t>(-1);
    // errno of a debugger attach; 0: it attached.
    int attachError = 0;
    // Its core file size limit is 0, soft and hard.
    bool coreFilesRefused = false;
};

// Looks at the program from a process of the given user and group (needs root to switch). The
// attach does not stop the program and ends with the looking process.
OutsideView lookAs(uid_t uid, gid_t gid, pid_t pid);

// Polls the condition every `intervalMs`; false if it does not hold within `timeoutMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000, int intervalMs = 5);

// Copies a file into `folder` under `name`, readable and executable by any user, and makes the
// folder itself open to any user: a copy of a program that another user can run although the
// build tree may be closed to that user. Returns the copy's path; throws std::runtime_error.
std::string copyForAnyUser(const std::string& file, const std::string& folder,
                           const std::string& name);

// The nobody account: an ordinary user the tests run a program as. False if there is none.
bool nobodyUser(uid_t& uid, gid_t& gid);

}  // namespace pcsctest
