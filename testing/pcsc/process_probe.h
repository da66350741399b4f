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

// True when /proc/<pid>/limits gives the process a core file size limit of 0 (soft and hard).
bool coreFilesRefused(pid_t pid);

// Owner of /proc/<pid>/status: the process's user, or root while the process is not dumpable.
uid_t procFilesOwner(pid_t pid);

// Tries to attach to the process as a debugger from a process of the given user and group
// (needs root to switch); the attach leaves the target running and ends with the probe. Returns
// 0 when the attach succeeded, else its errno.
int attachErrorAs(uid_t uid, gid_t gid, pid_t pid);

// Polls the condition every few milliseconds; false if it does not hold within `timeoutMs`.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

// Copies a file into `folder` under `name`, readable and executable by any user, and makes the
// folder itself open to any user: a copy of a program that another user can run although the
// build tree may be closed to that user. Returns the copy's path; throws std::runtime_error.
std::string copyForAnyUser(const std::string& file, const std::string& folder,
                           const std::string& name);

// The nobody account: an ordinary user the tests run a program as. False if there is none.
bool nobodyUser(uid_t& uid, gid_t& gid);

}  // namespace pcsctest
