#include "carddata_run.h"
#include "traced_run.h"

namespace carddatatest {

pcsctest::ProgramResult runCarddata(const std::vector<std::string>& args) {
    auto run = [&](const std::vector<std::string>& extra) {
        std::vector<std::string> env = {"PCSCLITE_CSOCK_NAME=" +
                                        pcsctest::PrivatePcscd::shared().socketPath()};
        env.insert(env.end(), extra.begin(), extra.end());
        return pcsctest::runProgram(CARDDATA_PATH, args, env);
    };
    return tracingRequested() ? tracedRun(args, run) : run({});
}

}  // namespace carddatatest
