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
// With CARD_TEST_TRACE set (a table's second CTest run) each run is made twice, the second time
// with the trace on, and checked with expectSameRunTraced.
RunResult runPincheck(const std::vector<std::string>& args, const std::string& libraryPath,
                      bool moduleStaysBound = false);

// The same run with the trace on (written to `tracePath`): the same reply, standard error and exit
// status, a trace of whole JSON lines that tells the run's story, and no trace of the PIN.
void expectSameRunTraced(const std::vector<std::string>& args, const RunResult& plain,
                         const RunResult& traced, const std::string& tracePath);

// A request as the service writes it, and the reply line the program must print for it.
inline std::string request(const std::string& pin, const std::string& slot = "0",
                           const std::string& function = "checkPin") {
    return "{\"CA_Function\":\"" + function + "\",\"sPin\":\"" + pin + "\",\"slotID\":\"" + slot +
           "\"}";
}
inline std::string reply(const std::string& function, const std::string& code,
                         const std::string& message) {
    return "{\"func\":\"" + function + "\",\"ret_code\":" + code + ",\"message\":\"" + message +
           "\"}\n";
}
inline std::string reply(const std::string& code, const std::string& message) {
    return reply("checkPin", code, message);
}

}  // namespace pinchecktest
