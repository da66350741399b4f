// Runs a program for a test: arguments and environment given, nothing on standard input, standard
// output and standard error captured apart and byte for byte, the exit status read back. Every
// runner of the tests (console programs, programs under Wine, measured runs) goes through here.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace testsupport {

struct ProcessOptions {
    // "NAME=value" entries added to, or replacing those of, the inherited environment.
    std::vector<std::string> env;
    // Names taken out of the environment.
    std::vector<std::string> unset;
    // A program name without a slash is looked up on PATH.
    bool searchPath = false;
    // The program leads a process group of its own, so that ending it at its limit also ends
    // what it started (Wine's helper processes).
    bool ownProcessGroup = false;
    // Run through a small uninstrumented launcher that reports the program's own peak resident
    // set: started straight from a large test process, the kernel counts the test's size too.
    bool measurePeakMemory = false;
    // The user and group the program runs as (needs root); -1: the test's own.
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};

struct ProcessResult {
    std::string out;
    std::string err;
    int exitStatus = -1;    // exit code; -1 if the program died of a signal or was ended
    int signal = 0;         // the signal it died of
    bool finished = false;  // false: it was still running at its limit and was ended
    long peakRssKb = 0;     // with measurePeakMemory
};

// One started program. Ending the owner ends the program if it still runs.
class Process {
  public:
    // Starts the program; throws std::runtime_error when that fails.
    Process(const std::string& program, const std::vector<std::string>& args,
            const ProcessOptions& options = {});
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    pid_t pid() const { return pid_; }
    // Waits for the end and collects the output. `limitSeconds` > 0: ends the program (and its
    // group) when it runs longer.
    ProcessResult wait(int limitSeconds = 0);
    // Sends `signal` (to the group as well when it has one) and reaps the program.
    void stop(int signal);

  private:
    TempDir files_;
    pid_t pid_ = -1;
    bool group_ = false;
    bool measured_ = false;
};

inline ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                                const ProcessOptions& options = {}, int limitSeconds = 0) {
    return Process(program, args, options).wait(limitSeconds);
}

}  // namespace testsupport
