// pincheck.exe under Wine, started as the service starts it: while the test module's login takes
// its time, another process reads the program's command line from its process parameters and
// finds the program's name but not the PIN; the module is taken only from trusted folders; and a
// module that does not load is diagnosed in the trace from its own file.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "mock_module.h"
#include "temp_dir.h"
#include "trace_check.h"
#include "wine_programs.h"

namespace {

const char kPinAccepted[] = "{\"func\":\"checkPin\",\"ret_code\":0,\"message\":\"\"}\n";
const char kModuleNotLoaded[] =
    "{\"func\":\"checkPin\",\"ret_code\":3657433094,\"message\":\"初始化函式庫失敗!!!\"}\n";

// The service's checkPin request for slot 0.
std::string checkPin(const std::string& pin) {
    return "{\"CA_Function\":\"checkPin\",\"sPin\":\"" + pin + "\",\"slotID\":\"0\"}";
}

// Text as its UTF-16LE bytes in hex, the way command_line_of prints a command line.
std::string utf16Hex(const std::string& ascii) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : ascii) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
        hex += "00";
    }
    return hex;
}

TEST(PincheckPrivacyUnderWine, RequestIsGoneFromTheCommandLineDuringTheLogin) {
    testsupport::MockModule module("slot 1 pin=\"7351\"\nlogin-delay 3000\n");
    const std::string folder = winetest::pincheckFolder(true);
    winetest::Environment env = winetest::withMockModule();
    const pid_t run = winetest::startLaunch(folder + "/pincheck.exe", {checkPin("7351")}, env);

    // The module logs C_OpenSession just before the login, which then takes its time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (module.count("C_OpenSession") == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string reader =
        winetest::stage("command-line", {"tools/command_line_of.exe"}) + "/command_line_of.exe";
    const winetest::RunResult seen = winetest::prefix().wine({reader, "pincheck.exe"}, {}, 60);
    const winetest::RunResult r = winetest::prefix().waitFor(run, 120);

    EXPECT_EQ(module.count("C_Login"), 1);
    EXPECT_EQ(seen.exitStatus, 0) << seen.err;
    EXPECT_NE(seen.out.find(utf16Hex("pincheck.exe")), std::string::npos) << seen.out;
    EXPECT_EQ(seen.out.find(utf16Hex("7351")), std::string::npos) << seen.out;
    EXPECT_EQ(r.out, kPinAccepted);
}

// The erasing on its own, in a probe started the same way: argv[1], the texts of GetCommandLineA
// and GetCommandLineW and the process parameters hold the PIN before and none of it after, and
// both texts still name the program.
TEST(PincheckPrivacyUnderWine, ArgumentAndBothCommandLineTextsAreErased) {
    const std::string probe = winetest::stage("erase-probe", {"tools/erase_argument_probe.exe"}) +
                              "/erase_argument_probe.exe";
    const winetest::RunResult r = winetest::launch(probe, {checkPin("7351")});
    EXPECT_EQ(r.exitStatus, 0) << r.out;
    EXPECT_EQ(r.out.find("FAIL"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok: no PIN in the process parameters after"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ok: no PIN in __argv[1] after"), std::string::npos) << r.out;
}

// The card module, named without a folder, comes from the program's own folder or the system
// folder, never from the working folder that whoever starts the program picks.
struct ModulePlace {
    const char* name;
    const char* place;  // "program", "system" or "working"
    std::string out;
};

void PrintTo(const ModulePlace& c, std::ostream* os) {
    *os << c.name;
}

class PincheckModuleSearchUnderWine : public ::testing::TestWithParam<ModulePlace> {};

TEST_P(PincheckModuleSearchUnderWine, TakesTheModuleOnlyFromTrustedFolders) {
    const std::string place = GetParam().place;
    testsupport::MockModule module("slot 1\n");
    const std::string folder = winetest::pincheckFolder(place == "program");
    winetest::Environment env = winetest::withMockModule();
    env["LAUNCH_WORKING_FOLDER"] = winetest::windowsPath(
        winetest::stage("module-in-working-folder", {"tools/ZarqoPKCS11.dll"}));
    // Other cases of this prefix expect no module there: it is taken away again at once.
    const std::string system =
        winetest::prefix().unixPath("C:\\windows\\system32\\ZarqoPKCS11.dll");
    if (place == "system")
        servicectl::wine::writeFile(
            system, servicectl::wine::readFile(std::string(std::getenv("CARD_WIN64_TOOLS")) +
                                               "/ZarqoPKCS11.dll"));
    const winetest::RunResult r =
        winetest::launch(folder + "/pincheck.exe", {checkPin("1234")}, env);
    if (place == "system") std::remove(system.c_str());
    EXPECT_EQ(r.out, GetParam().out);
    EXPECT_EQ(module.count("C_Login"), place == "working" ? 0 : 1);
    if (place == "working") {
        EXPECT_TRUE(module.calls().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Places, PincheckModuleSearchUnderWine,
    ::testing::Values(ModulePlace{"ProgramFolder", "program", kPinAccepted},
                      ModulePlace{"SystemFolder", "system", kPinAccepted},
                      ModulePlace{"WorkingFolderOnly", "working", kModuleNotLoaded}),
    [](const ::testing::TestParamInfo<ModulePlace>& info) { return std::string(info.param.name); });

TEST(PincheckTraceUnderWine, ModuleThatDoesNotLoadIsDiagnosedFromItsFile) {
    const std::string tools32 = std::string(std::getenv("CARD_WIN32_TOOLS"));
    const std::string tools64 = std::string(std::getenv("CARD_WIN64_TOOLS"));
    const struct {
        const char* name;
        std::string module;  // the bytes put under the module's name beside the program
        unsigned errorCode;
        const char* diagnosis;
    } cases[] = {
        {"x86 module", servicectl::wine::readFile(tools32 + "/ZarqoPKCS11.dll"), 193,
         "module is 32-bit x86, this program is 64-bit x64"},
        {"missing dependency", servicectl::wine::readFile(tools64 + "/module_needs_absent.dll"),
         126, "dependency not found: card_absent_dep.dll"},
        {"text file", "not a library\r\n", 193, "not a library"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_FALSE(c.module.empty());
        const std::string folder = winetest::stage(std::string("diagnosis-") + c.name,
                                                   {"pincheck.exe", "libcrypto-3-x64.dll"});
        servicectl::wine::writeFile(folder + "/ZarqoPKCS11.dll", c.module);
        testsupport::TempDir dir;
        winetest::Environment env;
        env["CARD_TRACE_FILE"] = winetest::windowsPath(dir.file("trace.jsonl"));
        const winetest::RunResult r =
            winetest::launch(folder + "/pincheck.exe", {checkPin("1234")}, env);
        EXPECT_EQ(r.out, kModuleNotLoaded);
        const auto events = testsupport::readTrace(dir.file("trace.jsonl"));
        const Json::Value* load = testsupport::findEvent(events, "module.load");
        ASSERT_TRUE(load) << testsupport::readFile(dir.file("trace.jsonl"));
        EXPECT_EQ((*load)["error_code"].asUInt(), c.errorCode);
        EXPECT_NE((*load)["error"].asString(), "");
        EXPECT_EQ((*load)["diagnosis"].asString(), c.diagnosis);
        EXPECT_NE((*load)["path"].asString().find("ZarqoPKCS11.dll"), std::string::npos);
    }
}

}  // namespace
