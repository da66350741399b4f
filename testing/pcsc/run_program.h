// Runs a program with arguments and extra environment, capturing standard output, standard
// error and the exit status byte for byte (end-to-end tests of the console programs).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace pcsctest {

struct ProgramResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // exit code; -1 if the program died of a signal
    int signal = 0;
};

struct RunOptions {
    // Called with the program's process ID while it runs, before its output is read (a reply
    // line fits the pipe, so the program is not held up meanwhile).
    std::function<void(pid_t)> whileRunning;
    // The user and group the program runs as (needs root); -1: the test's own.
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};

// `env` holds "NAME=value" entries added to (or replacing those of) this process's environment.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {}, const RunOptions& options = {});

}  // namespace pcsctest
