// Runs the built pincheck binary as the service does: one request argument, standard output and
// standard error captured separately, the exit status read back.
#pragma once

#include <string>
#include <vector>

namespace pinchecktest {

struct RunResult {
    std::string out;
    std::string err;
    int status = -1;  // exit status, or -1 when the process did not exit normally
};

// Runs pincheck with the given arguments (none: no request at all). `libraryPath` becomes the
// child's LD_LIBRARY_PATH, so the module under its plain name is found there and nowhere else.
// `moduleStaysBound`: the run ends with the module still bound, as the program leaves it after a
// failed slot step, so the layer's binding is still held at exit; the leak checker of a sanitized
// build is told so (it would report that binding), and only for such runs.
RunResult runPincheck(const std::vector<std::string>& args, const std::string& libraryPath,
                      bool moduleStaysBound = false);

}  // namespace pinchecktest
