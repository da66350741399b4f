// The caller program of caller/, built outside this tree against the installed library (once
// through pkg-config, once through find_package), runs the API against SoftHSM2: bind, slots,
// login, keys, certificates, a signature verified with the certificate, a decryption, logout and
// release.
#include <gtest/gtest.h>

#include <string>

#include "api_cycle.h"
#include "process.h"

namespace {

TEST(TokenApiCaller, InstalledLibraryServesAProgramBuiltAgainstIt) {
    apitest::SoftHsmKeyToken token;
    const std::string callers = CALLER_DIR;
    struct Case {
        const char* build;
        const char* pin;
        int status;
        std::string output;  // a part of the output, in this order
    };
    const std::string walk = std::string("slots: 2\ntoken: test token\n");
    const std::string work = std::string("keys: 1\nkey id: ") + apitest::kKeyIdHex +
                             "\ncertificates: 1\nsignature verified with the certificate\n"
                             "decrypted what the certificate encrypted\ndone\n";
    const Case cases[] = {
        {"pkg-config", apitest::kPin, 0, work},
        {"find-package", apitest::kPin, 0, work},
        {"find-package", "0000", 1, "slots: 2\nFAIL: no slot accepted the PIN: 0x00000000\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.build) + " PIN " + c.pin);
        const testsupport::ProcessResult run =
            testsupport::runProcess(callers + "/caller-" + c.build, {token.hsm.kModule, c.pin});
        // The caller flushes its steps before it reports a failure, so the two streams in a row
        // read as the program wrote them.
        const std::string output = run.out + run.err;
        EXPECT_EQ(run.exitStatus, c.status) << output;
        if (c.status == 0) {
            EXPECT_NE(output.find(walk), std::string::npos) << output;
        }
        EXPECT_NE(output.find(c.output), std::string::npos) << output;
    }
}

}  // namespace
