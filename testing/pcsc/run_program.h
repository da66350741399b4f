// Runs a program with arguments and extra environment, capturing standard output, standard
// error and the exit status byte for byte (end-to-end tests of the console programs).
#pragma once

#include <string>
#include <vector>

namespace pcsctest {

struct ProgramResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // exit code; -1 if the program died of a signal
    int signal = 0;
};

// `env` holds "NAME=value" entries added to (or replacing those of) this process's environment.
ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {});

}  // namespace pcsctest
