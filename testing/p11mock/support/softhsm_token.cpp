#include "softhsm_token.h"

#include <sys/stat.h>

#include <cstdlib>
#include <stdexcept>

#include "process.h"

namespace testsupport {

SoftHsmToken::SoftHsmToken(const std::string& label, const std::string& pin,
                           const std::string& soPin) {
    const std::string tokens = dir_.file("tokens");
    if (mkdir(tokens.c_str(), 0700) != 0) throw std::runtime_error("cannot make " + tokens);
    conf_ = dir_.file("softhsm2.conf");
    writeFile(conf_, "directories.tokendir = " + tokens +
                         "\nobjectstore.backend = file\nlog.level = ERROR\n");
    if (const char* old = std::getenv("SOFTHSM2_CONF")) {
        hadConf_ = true;
        previousConf_ = old;
    }
    setenv("SOFTHSM2_CONF", conf_.c_str(), 1);
    addToken(label, pin, soPin);
}

SoftHsmToken::~SoftHsmToken() {
    if (hadConf_)
        setenv("SOFTHSM2_CONF", previousConf_.c_str(), 1);
    else
        unsetenv("SOFTHSM2_CONF");
}

void SoftHsmToken::addToken(const std::string& label, const std::string& pin,
                            const std::string& soPin) {
    if (run("softhsm2-util",
            {"--init-token", "--free", "--label", label, "--pin", pin, "--so-pin", soPin}) != 0)
        throw std::runtime_error("softhsm2-util could not make token " + label);
}

std::string SoftHsmToken::moduleFolder() {
    const std::string folder = dir_.file("module");
    mkdir(folder.c_str(), 0700);
    linkModule(folder, kModule);
    return folder;
}

int SoftHsmToken::run(const std::string& program,
                      const std::initializer_list<std::string>& args) const {
    ProcessOptions how;
    how.env = {"SOFTHSM2_CONF=" + conf_};
    how.searchPath = true;
    return runProcess(program, args, how).exitStatus;
}

}  // namespace testsupport
