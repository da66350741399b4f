#include "run_pincheck.h"

#include <cstdlib>

#include "process.h"

namespace pinchecktest {

RunResult runPincheck(const std::vector<std::string>& args, const std::string& libraryPath,
                      bool moduleStaysBound) {
    testsupport::ProcessOptions options;
    options.env = {"LD_LIBRARY_PATH=" + libraryPath};
    if (moduleStaysBound) {
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string before = asan ? asan : "";
        options.env.push_back("ASAN_OPTIONS=" + before + (before.empty() ? "" : ":") +
                              "detect_leaks=0");
    }
    const testsupport::ProcessResult run = testsupport::runProcess(PINCHECK_BINARY, args, options);
    return {run.out, run.err, run.exitStatus};
}

}  // namespace pinchecktest
