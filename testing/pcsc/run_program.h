// Runs a program with arguments and extra environment, capturing standard output, standard
// error and the exit status byte for byte (end-to-end tests of the console programs).
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "process.h"

namespace pcsctest {

using ProgramResult = testsupport::ProcessResult;

// The options of any test run (uid and gid among them), plus a look at the running program.
struct RunOptions : testsupport::ProcessOptions {
    // Called with the program's process ID while it runs, before its output is read (the output
    // goes to files, so the program is not held up meanwhile).
    std::function<void(pid_t)> whileRunning;
};

// `env` holds "NAME=value" entries added to (or replacing those of) this process's environment.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {}, const RunOptions& options = {});

}  // namespace pcsctest
