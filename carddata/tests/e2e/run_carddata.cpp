#include "carddata_run.h"

namespace carddatatest {

pcsctest::ProgramResult runCarddata(const std::vector<std::string>& args) {
    return pcsctest::runProgram(
        CARDDATA_PATH, args,
        {"PCSCLITE_CSOCK_NAME=" + pcsctest::PrivatePcscd::shared().socketPath()});
}

}  // namespace carddatatest
