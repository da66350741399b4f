#include "run_pincheck.h"

#include <cstdlib>

#include "process.h"
#include "temp_dir.h"

namespace pinchecktest {

namespace {

RunResult runOnce(const std::vector<std::string>& args, const std::string& libraryPath,
                  bool moduleStaysBound, const std::vector<std::string>& extraEnv) {
    testsupport::ProcessOptions options;
    options.env = {"LD_LIBRARY_PATH=" + libraryPath};
    if (moduleStaysBound) {
        const char* asan = std::getenv("ASAN_OPTIONS");
        const std::string before = asan ? asan : "";
        options.env.push_back("ASAN_OPTIONS=" + before + (before.empty() ? "" : ":") +
                              "detect_leaks=0");
    }
    options.env.insert(options.env.end(), extraEnv.begin(), extraEnv.end());
    const testsupport::ProcessResult run = testsupport::runProcess(PINCHECK_BINARY, args, options);
    return {run.out, run.err, run.exitStatus};
}

}  // namespace

RunResult runPincheck(const std::vector<std::string>& args, const std::string& libraryPath,
                      bool moduleStaysBound) {
    const RunResult plain = runOnce(args, libraryPath, moduleStaysBound, {});
    if (std::getenv("CARD_TEST_TRACE")) {
        testsupport::TempDir dir;
        const std::string trace = dir.file("trace.jsonl");
        // The module's call log stays the plain run's.
        const RunResult traced = runOnce(args, libraryPath, moduleStaysBound,
                                         {"CARD_TRACE_FILE=" + trace, "P11MOCK_LOG="});
        expectSameRunTraced(args, plain, traced, trace);
    }
    return plain;
}

}  // namespace pinchecktest
