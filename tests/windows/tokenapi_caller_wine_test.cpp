// The token API's caller program (pincheck/token/tests/library/caller), built for Windows against
// tokenapi.dll as installed from the x64 build, runs through the test module's DLL: the walk from
// binding to release, a signature on the token verified with the certificate, a decryption.
#include <gtest/gtest.h>

#include <string>

#include "key_fixtures.h"
#include "mock_module.h"
#include "wine_programs.h"

namespace {

TEST(TokenApiCallerUnderWine, InstalledDllServesAProgramBuiltAgainstIt) {
    testsupport::TempDir files;
    const keytest::KeyPair pair = keytest::makeKeyPair(files.path(), "caller");
    testsupport::MockModule module(
        "library description=\"Mock Library\"\n"
        "slot 1 label=\"caller\" serial=\"0042\"\n"
        "key slot=1 id=c0de label=\"k\" pem=Z:" +
        pair.pemPath + "\ncert slot=1 id=c0de der=Z:" + pair.certDerPath + "\n");
    const std::string folder = winetest::stage(
        "tokenapi", {"../tokenapi-caller/caller-find-package.exe=token_api_caller.exe",
                     "tokenapi.dll", "libcrypto-3-x64.dll", "tools/ZarqoPKCS11.dll"});
    winetest::Environment env = winetest::withMockModule(winetest::codePageEnvironment());
    const winetest::RunResult run =
        winetest::prefix().wine({folder + "/token_api_caller.exe", "ZarqoPKCS11.dll", "1234"}, env);

    EXPECT_EQ(winetest::withoutCarriageReturns(run.out),
              "library: Mock Library\n"
              "slots: 1\n"
              "token: caller\n"
              "serial: 0042\n"
              "keys: 1\n"
              "key id: c0de\n"
              "certificates: 1\n"
              "signature verified with the certificate\n"
              "decrypted what the certificate encrypted\n"
              "done\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, 0);
    // The private operations ran in the module, not in software.
    EXPECT_EQ(module.count("C_Sign"), 1);
    EXPECT_EQ(module.count("C_Decrypt"), 1);
}

}  // namespace
