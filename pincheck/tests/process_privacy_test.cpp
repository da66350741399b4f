// What other processes can learn of the PIN while pincheck waits on the module's login: the
// request is gone from the command line, and a process of the same user can neither read the
// program's /proc files nor attach to it as a debugger.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "memory_scan.h"
#include "mock_module.h"
#include "process_probe.h"
#include "run_pincheck.h"
#include "run_program.h"
#include "temp_dir.h"

namespace {

using pinchecktest::reply;
using pinchecktest::request;

// The module logs C_OpenSession just before the login, which then takes its time.
bool loginStarted(const std::string& log) {
    return testsupport::readFile(log).find("C_OpenSession") != std::string::npos;
}

TEST(PincheckPrivacy, RequestIsGoneFromTheCommandLineDuringTheLogin) {
    const struct {
        const char* name;
        std::string pin;
        std::string script;
        std::string out;
    } cases[] = {
        {"PIN accepted", "7351", "slot 1 pin=\"7351\"\nlogin-delay 800\n", reply("0", "")},
        {"PIN wrong", "0000", "slot 1 pin=\"7351\"\ndevice-error 0x63C2\nlogin-delay 800\n",
         reply("3657433248", "第一次密碼輸入錯誤")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::MockModule module(c.script);
        const std::string text = request(c.pin);
        std::string seen;
        pcsctest::RunOptions options;
        options.whileRunning = [&](pid_t pid) {
            if (pcsctest::waitUntil([&] { return loginStarted(module.logPath()); }))
                seen = pcsctest::commandLineOf(pid);
        };
        const auto r = pcsctest::runProgram(PINCHECK_BINARY, {text},
                                            {"LD_LIBRARY_PATH=" + module.folder()}, options);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.exitStatus, 0);
        // The program's name, then the request's place all NULs: not one byte of it to read.
        EXPECT_EQ(seen, std::string(PINCHECK_BINARY) + '\0' + std::string(text.size() + 1, '\0'));
    }
}

// At the process's last moment, after its own destructors, no copy of the PIN is left anywhere
// in its writable memory: stack, heap, static data, the module's and the libraries' too. The
// test module keeps none itself: it is given the right PIN in hex and logs unbuffered.
TEST(PincheckPrivacy, NoCopyOfThePinIsLeftInMemoryAtExit) {
    if (!testsupport::MemoryScan::available()) GTEST_SKIP() << "no memory scan in this build";
    const std::string marker = "73519264";
    const struct {
        const char* name;
        std::string script;
        std::string request;
        std::string out;
    } cases[] = {
        {"PIN accepted", "slot 1 pin-hex=\"3733353139323634\"\n", request(marker), reply("0", "")},
        {"PIN wrong", "slot 1 pin=\"1234\"\n", request(marker), reply("3657433248", "PIN碼錯誤")},
        // Quotes that shift the pairing: the PIN becomes a field's name, or stays in the parser's
        // name collector when the request ends.
        {"PIN as a field name", "slot 1\n",
         "{\"CA_Function\":\"checkPin\",\"slotID\":0,\"sPin\":\"" + marker + "\",\"x\":\"y\"}",
         reply("3657433250", "密碼長度不足")},
        {"PIN left in a name", "slot 1\n",
         "{\"CA_Function\":\"checkPin\",\"slotID\":-1,\"sPin\":\"" + marker + "\"}",
         reply("3657433250", "密碼長度不足")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::MockModule module(c.script);
        const testsupport::MemoryScan scan(marker);
        std::vector<std::string> env = scan.environment();
        env.push_back("LD_LIBRARY_PATH=" + module.folder());
        const auto r = pcsctest::runProgram(PINCHECK_BINARY, {c.request}, env);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(scan.report(), "hits 0\n");
    }
}

TEST(PincheckPrivacy, SameUserCannotAttachDuringTheLogin) {
    uid_t uid = 0;
    gid_t gid = 0;
    if (geteuid() != 0) GTEST_SKIP() << "running the program as an ordinary user needs root";
    if (!pcsctest::nobodyUser(uid, gid)) GTEST_SKIP() << "no user nobody to run the program as";

    // Copies the other user can read and run, since the build tree may be closed to them.
    testsupport::TempDir dir;
    const std::string program = pcsctest::copyForAnyUser(PINCHECK_BINARY, dir.path(), "pincheck");
    pcsctest::copyForAnyUser(testsupport::p11mockPath(), dir.path(), "ZarqoPKCS11.so");
    testsupport::writeFile(dir.file("script"), "slot 1\nlogin-delay 1500\n");
    testsupport::writeFile(dir.file("calls.log"), "");
    chmod(dir.file("script").c_str(), 0644);
    chmod(dir.file("calls.log").c_str(), 0666);

    const pcsctest::CoreFilesAllowed coreFiles;
    pcsctest::OutsideView view;
    pcsctest::RunOptions options;
    options.uid = uid;
    options.gid = gid;
    options.whileRunning = [&](pid_t pid) {
        if (pcsctest::waitUntil([&] { return loginStarted(dir.file("calls.log")); }))
            view = pcsctest::lookAs(uid, gid, pid);
    };
    const auto r = pcsctest::runProgram(
        program, {request("1234")},
        {"LD_LIBRARY_PATH=" + dir.path(), "P11MOCK_SCRIPT=" + dir.file("script"),
         "P11MOCK_LOG=" + dir.file("calls.log")},
        options);
    EXPECT_TRUE(view.running);
    EXPECT_EQ(view.filesOwner, 0u);
    EXPECT_EQ(view.attachError, EPERM);
    EXPECT_TRUE(view.coreFilesRefused);
    EXPECT_EQ(r.out, reply("0", ""));
    EXPECT_EQ(r.err, "");
}

}  // namespace
