// The token API called from Windows programs through the test module's DLL, with the libcrypto
// DLL that ships beside pincheck.exe: a probe (testing/wine/token_probe.cpp) that lists keys and
// certificates, signs and decrypts on the token and checks both against the certificate, hands
// both objects back and opens no crypto configuration file on the way; and the token API's caller
// program (pincheck/token/tests/library/caller), built against tokenapi.dll as installed from the
// x64 build, from binding to release.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "key_fixtures.h"
#include "mock_module.h"
#include "wine_programs.h"

namespace {

// Runs `program` with the test module's DLL and the PIN 1234, the module's slot described by
// `slot` (script lines) holding one key pair under `id`, and expects `out` on standard output,
// exit status 0, and the private operations (one signature, one decryption) in the module, not
// in software. Returns standard error.
std::string expectRunOnTheToken(const std::string& program, const std::string& slot,
                                const std::string& id, const std::string& out,
                                const winetest::Environment& extra = {}) {
    testsupport::TempDir files;
    const keytest::KeyPair pair = keytest::makeKeyPair(files.path(), id);
    // Forward slashes: the script's bare words keep them, and Windows reads them as separators.
    testsupport::MockModule module(slot + "key slot=1 id=" + id +
                                   " label=\"k\" pem=Z:" + pair.pemPath + "\ncert slot=1 id=" + id +
                                   " der=Z:" + pair.certDerPath + "\n");
    winetest::Environment env = winetest::withMockModule(winetest::codePageEnvironment());
    for (const auto& entry : extra) env[entry.first] = entry.second;
    const winetest::RunResult run =
        winetest::prefix().wine({program, "ZarqoPKCS11.dll", "1234"}, env);
    EXPECT_EQ(winetest::withoutCarriageReturns(run.out), out);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(module.count("C_Sign"), 1);
    EXPECT_EQ(module.count("C_Decrypt"), 1);
    return run.err;
}

// A run of the probe; with `traceFiles` Wine traces every file the process opens to its error
// output, which the run returns.
std::string expectProbeSucceeds(bool traceFiles) {
    const std::string folder = winetest::stage(
        "token", {"tools/token_probe.exe", "libcrypto-3-x64.dll", "tools/ZarqoPKCS11.dll"});
    winetest::Environment env;
    if (traceFiles) env["WINEDEBUG"] = "+file";
    return expectRunOnTheToken(folder + "/token_probe.exe", "slot 1 label=\"probe\"\n", "0a0b",
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
                               "all steps passed\n",
                               env);
}

TEST(TokenProbeUnderWine, KeysAndCertificatesWorkThroughTheLibcryptoDll) {
    EXPECT_EQ(expectProbeSucceeds(false), "");
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

TEST(TokenApiCallerUnderWine, InstalledDllServesAProgramBuiltAgainstIt) {
    const std::string folder = winetest::stage(
        "tokenapi", {"../tokenapi-caller/caller-find-package.exe=token_api_caller.exe",
                     "tokenapi.dll", "libcrypto-3-x64.dll", "tools/ZarqoPKCS11.dll"});
    EXPECT_EQ(expectRunOnTheToken(folder + "/token_api_caller.exe",
                                  "library description=\"Mock Library\"\n"
                                  "slot 1 label=\"caller\" serial=\"0042\"\n",
                                  "c0de",
                                  "library: Mock Library\n"
                                  "slots: 1\n"
                                  "token: caller\n"
                                  "serial: 0042\n"
                                  "keys: 1\n"
                                  "key id: c0de\n"
                                  "certificates: 1\n"
                                  "signature verified with the certificate\n"
                                  "decrypted what the certificate encrypted\n"
                                  "done\n"),
              "");
}

}  // namespace
