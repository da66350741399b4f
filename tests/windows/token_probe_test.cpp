// The token API called from a Windows program (testing/wine/token_probe.cpp) through the test
// module's DLL: keys and certificates listed, a signature and a decryption made on the token and
// checked against the certificate in the shared libcrypto DLL, both objects handed back; and the
// same with a crypto configuration planted on the current drive.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "key_fixtures.h"
#include "mock_module.h"
#include "wine_programs.h"

namespace {

std::string withoutCarriageReturns(std::string text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

// A run of the probe; with `fromDriveC` it starts in C:\ (the current drive is then C:).
void expectProbeSucceeds(bool fromDriveC) {
    testsupport::TempDir files;
    const keytest::KeyPair pair = keytest::makeKeyPair(files.path(), "probe");
    // Forward slashes: the script's bare words keep them, and Windows reads them as separators.
    testsupport::MockModule module(
        "slot 1 label=\"probe\"\nkey slot=1 id=0a0b label=\"k\" pem=Z:" + pair.pemPath +
        "\ncert slot=1 id=0a0b der=Z:" + pair.certDerPath + "\n");
    const std::string folder = winetest::stage(
        "token", {"tools/token_probe.exe", "libcrypto-3-x64.dll", "tools/ZarqoPKCS11.dll"});
    winetest::Environment env = winetest::codePageEnvironment();
    env["P11MOCK_SCRIPT"] = winetest::windowsPath(std::getenv("P11MOCK_SCRIPT"));
    env["P11MOCK_LOG"] = winetest::windowsPath(module.logPath());
    std::vector<std::string> command = {winetest::windowsPath(folder + "/token_probe.exe"),
                                        "ZarqoPKCS11.dll", "1234"};
    if (fromDriveC) command.insert(command.begin(), {"cmd", "/c", "cd", "/d", "C:\\", "&&"});
    const winetest::RunResult run = winetest::prefix().wine(command, env);

    EXPECT_EQ(withoutCarriageReturns(run.out),
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
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitStatus, 0);
    // The private operations ran in the module, not in software.
    EXPECT_EQ(module.count("C_Sign"), 1);
    EXPECT_EQ(module.count("C_Decrypt"), 1);
}

TEST(TokenProbeUnderWine, KeysAndCertificatesWorkThroughTheLibcryptoDll) {
    expectProbeSucceeds(false);
}

// Any user may create \var\cache\... on a Windows drive. A configuration planted where a crypto
// DLL built with a Unix prefix looks for it, on the current drive, leaving only the provider
// without algorithms, must not reach the DLL: the probe works as before.
TEST(TokenProbeUnderWine, PlantedOpensslConfigOnTheCurrentDriveChangesNothing) {
    const std::string config = winetest::prefix().unixPath(
        "C:\\var\\cache\\card-programs\\mingw\\x86_64\\ssl\\openssl.cnf");
    std::filesystem::create_directories(std::filesystem::path(config).parent_path());
    servicectl::wine::writeFile(config,
                                "openssl_conf = init\n[init]\nproviders = providers\n"
                                "[providers]\nnull = null\n[null]\nactivate = 1\n");
    expectProbeSucceeds(true);
}

}  // namespace
