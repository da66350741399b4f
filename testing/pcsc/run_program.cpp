#include "run_program.h"

namespace pcsctest {

ProgramResult runProgram(const std::string& path, const std::vector<std::string>& args,
                         const std::vector<std::string>& env, const RunOptions& options) {
    testsupport::ProcessOptions how = options;
    how.env = env;
    testsupport::Process program(path, args, how);
    if (options.whileRunning) options.whileRunning(program.pid());
    return program.wait();
}

}  // namespace pcsctest
