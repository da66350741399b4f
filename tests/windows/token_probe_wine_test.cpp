// The token API called from a Windows program (testing/wine/token_probe.cpp) through the test
// module's DLL: keys and certificates listed, a signature and a decryption made on the token and
// checked against the certificate in the shared libcrypto DLL, both objects handed back; and no
// crypto configuration file opened on the way.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "key_fixtures.h"
#include "mock_module.h"
#include "wine_programs.h"

namespace {

// A run of the probe; with `traceFiles` Wine traces every file the process opens to its error
// output, which the run returns.
std::string expectProbeSucceeds(bool traceFiles) {
    testsupport::TempDir files;
    const keytest::KeyPair pair = keytest::makeKeyPair(files.path(), "probe");
    // Forward slashes: the script's bare words keep them, and Windows reads them as separators.
    testsupport::MockModule module(
        "slot 1 label=\"probe\"\nkey slot=1 id=0a0b label=\"k\" pem=Z:" + pair.pemPath +
        "\ncert slot=1 id=0a0b der=Z:" + pair.certDerPath + "\n");
    const std::string folder = winetest::stage(
        "token", {"tools/token_probe.exe", "libcrypto-3-x64.dll", "tools/ZarqoPKCS11.dll"});
    winetest::Environment env = winetest::withMockModule(winetest::codePageEnvironment());
    if (traceFiles) env["WINEDEBUG"] = "+file";
    const winetest::RunResult run =
        winetest::prefix().wine({folder + "/token_probe.exe", "ZarqoPKCS11.dll", "1234"}, env);

    EXPECT_EQ(winetest::withoutCarriageReturns(run.out),
              "InitLibrary 0x00000000\n"
              "GetSlotID 0x00000000\n"
              "LoginToken 0x00000000\n"
              "GetKeyNum 0x00000000\n"
              "GetCertNum 0x00000000\n"
              "keys 1 certs 1\n"
              "key 0a0b\n"
              "GetCert 0x00000000\n"
              "GetKey 0x00000000\n"
              "sign-verify ok\n"
              "encrypt-decrypt ok\n"
              "FreeKey 0x00000000\n"
              "cert 0a0b\n"
              "LogoutToken 0x00000000\n"
              "CloseLibrary 0x00000000\n"
              "all steps passed\n");
    if (!traceFiles) {
        EXPECT_EQ(run.err, "");
    }
    EXPECT_EQ(run.exitStatus, 0);
    // The private operations ran in the module, not in software.
    EXPECT_EQ(module.count("C_Sign"), 1);
    EXPECT_EQ(module.count("C_Decrypt"), 1);
    return run.err;
}

TEST(TokenProbeUnderWine, KeysAndCertificatesWorkThroughTheLibcryptoDll) {
    expectProbeSucceeds(false);
}

// Any user may create \var\cache\... on a Windows drive: a crypto DLL built with a Unix prefix
// opens its openssl.cnf there (on the current drive) once an algorithm is fetched, and a planted
// one can switch algorithms off or add trust. The shipped DLL looks only under "?:", a drive
// letter no Windows system has, so no such file can exist. (Wine takes a path that starts with "/"
// as a Unix path, so the place such a DLL looks at is a folder of the build machine here; the trace
// of the opened files shows it all the same.)
TEST(TokenProbeUnderWine, TheCryptoDllLooksForNoConfigurationWhereOneCanExist) {
    const std::string trace = expectProbeSucceeds(true);
    EXPECT_NE(trace.find("token_probe.exe"), std::string::npos) << "no file trace";
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("CreateFileW") != std::string::npos &&
            line.find(".cnf") != std::string::npos) {
            EXPECT_NE(line.find("L\"?:/no-openssl-dir/"), std::string::npos) << line;
        }
    }
}

}  // namespace
