// The real Windows program under Wine: processes, registry, folders and message boxes through the
// real Win32 calls, in a private prefix made once for the whole suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "code_page_950.h"
#include "wine_runner.h"

namespace servicectl {
namespace wine {
namespace {

// The prefix of the suite, made for its first case and kept for all of them.
WinePrefix& prefix() {
    static WinePrefix shared;
    return shared;
}

const char kToolWindows[] = "C:\\tools\\servicectl.exe";
const char kServiceFolderWindows[] = "C:\\Program Files\\VemraLocalSignServer";
const char kServiceNodeWindows[] = "C:\\Program Files\\VemraLocalSignServer\\node.exe";
const char kOtherNodeWindows[] = "C:\\elsewhere\\node.exe";
const char kRecordWindows[] = "C:\\standin\\record.txt";
const char kServiceCommandLine[] =
    "\"C:\\Program Files\\VemraLocalSignServer\\node.exe\" vemraLocalServer.js";
const char kInstallerKey[] =
    "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "{5B3F0E72-A9C4-4E18-9D6B-27C1F08A4E93}_is1";

const char kEnvironmentHeader[] =
    "-------------------------List environment variables-----------------------------------";
const char kRegistryHeader[] =
    "\r\n-------------------------Check Installer registry-----------------------------------\r\n";
const char kProcessHeader[] =
    "\r\n-------------------------List all process-----------------------------------\r\n";
const char* const kLogs[] = {"debug", "exceptions", "systemstatus"};
const char kVersionBox[] = "Troubleshooting tool of IC card componet (Version: 1.0.3.1013)";
const char kBeginBox[] = "Start to troubleshooting tool(Version: 1.0.3.1013)";
const char kRestartsBox[] =
    "IC Card componet has been installed\r\nIC Card componet is not running, and it restarts "
    "now\r\n";

std::string buildPath(const char* name) {
    const char* dir = std::getenv("SERVICECTL_WIN64_DIR");
    return std::string(dir != nullptr ? dir : ".") + "/" + name;
}

using testsupport::utf8ToCp950;

struct Box {
    std::string text;
    std::string caption;
    bool textCut = false;  // Wine cut the traced text: `text` is a prefix and the caption unknown
};

struct ToolRun {
    RunResult result;
    std::vector<TracedCall> calls;  // the tool's own calls, in order
    std::vector<Box> boxes;
    std::vector<TracedCall> creations;

    // The tool's calls as short names, in order.
    std::vector<std::string> sequence() const {
        std::vector<std::string> names;
        for (const TracedCall& call : calls) {
            // Only the wait without a time limit is the tool's wait for the service.
            if (call.function != "WaitForSingleObject") {
                names.push_back(call.function);
            } else if (call.rawArguments.find(",ffffffff)") != std::string::npos) {
                names.push_back("wait");
            }
        }
        return names;
    }
};

// The tab-separated fields of one line of the stand-ins' record.
using RecordLine = std::vector<std::string>;

struct Options {
    std::string watch;       // STANDIN_WATCH of the services the tool starts
    bool exactTail = false;  // through the launcher, so blanks in the tail reach the tool as given
    bool chinese = false;
};

class ServicectlUnderWine : public ::testing::Test {
  protected:
    void SetUp() override {
        WinePrefix& p = prefix();
        ASSERT_TRUE(p.ok()) << p.error();
        for (const char* dir : {"C:\\tools", "C:\\Program Files\\VemraLocalSignServer",
                                "C:\\elsewhere", "C:\\standin"}) {
            ASSERT_EQ(std::system(("mkdir -p '" + p.unixPath(dir) + "'").c_str()), 0);
        }
        copy(buildPath("bin/servicectl.exe"), kToolWindows);
        copy(buildPath("tools/servicectl_standin.exe"), kServiceNodeWindows);
        copy(buildPath("tools/servicectl_standin.exe"), kOtherNodeWindows);
        copy(buildPath("tools/launch.exe"), "C:\\tools\\launch.exe");
        writeFile(p.unixPath(kRecordWindows), "");
        for (const char* log : kLogs) std::remove(desktopLog(log).c_str());
        std::remove(desktopTrace().c_str());
    }

    void TearDown() override {
        for (pid_t pid : background_) prefix().kill(pid);
    }

    void copy(const std::string& from, const std::string& toWindows) {
        std::string command = "cp '" + from + "' '" + prefix().unixPath(toWindows) + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    std::string desktopLog(const std::string& which) const {
        return prefix().unixPath(prefix().desktopWindows()) + "/VemraLog_" + which + ".log";
    }
    // The card programs' trace file, which the troubleshooting mode switches on and off.
    std::string desktopTrace() const {
        return prefix().unixPath(prefix().desktopWindows()) + "/CardProgramsTrace.jsonl";
    }
    std::string desktopLogWindows(const std::string& which) const {
        return prefix().desktopWindows() + "\\VemraLog_" + which + ".log";
    }
    void writeEveryLog() {
        for (const char* log : kLogs) writeFile(desktopLog(log), "x");
        writeFile(desktopTrace(), "x");
    }
    void expectNoLog() {
        for (const char* log : kLogs) EXPECT_FALSE(fileExists(desktopLog(log))) << log;
        EXPECT_FALSE(fileExists(desktopTrace()));
    }

    void setInstalled(bool installed) {
        WinePrefix& p = prefix();
        if (!installed) {
            p.wine({"reg", "delete", kInstallerKey, "/f"});
            return;
        }
        const std::vector<std::vector<std::string>> values = {
            {"DisplayName", "REG_SZ", "Card Service"},
            {"EstimatedSize", "REG_DWORD", "4096"},
            {"Publisher", "REG_SZ", "Card Team"}};
        for (const std::vector<std::string>& v : values) {
            RunResult r =
                p.wine({"reg", "add", kInstallerKey, "/v", v[0], "/t", v[1], "/d", v[2], "/f"});
            ASSERT_EQ(r.exitStatus, 0) << r.err;
        }
    }

    std::vector<RecordLine> recordOf(const std::string& kind) const {
        std::vector<RecordLine> found;
        std::istringstream lines(readFile(prefix().unixPath(kRecordWindows)));
        for (std::string text; std::getline(lines, text);) {
            RecordLine line;
            std::istringstream fields(text);
            for (std::string field; std::getline(fields, field, '\t');) line.push_back(field);
            if (!line.empty() && line[0] == kind) found.push_back(line);
        }
        return found;
    }

    // Starts a stand-in that waits until it is terminated, and returns once it is in the process
    // list (it has written its start line).
    pid_t startRunningService(const char* windowsPath) {
        std::size_t before = recordOf("start").size();
        pid_t pid = prefix().startWine({windowsPath}, {{"STANDIN_RECORD", kRecordWindows}});
        background_.push_back(pid);
        for (int i = 0; i < 1500 && recordOf("start").size() == before; ++i) usleep(20000);
        EXPECT_GT(recordOf("start").size(), before) << "stand-in " << windowsPath << " never ran";
        return pid;
    }

    ToolRun runTool(const std::string& tail, const Options& options = Options()) {
        Environment env = {{"WINEDEBUG", "-all,+relay"},
                           {"STANDIN_RECORD", kRecordWindows},
                           {"STANDIN_LIFETIME_MS", "300"},
                           {"STANDIN_WATCH", options.watch}};
        if (options.chinese) {
            env["LOCPATH"] = prefix().localeDirectory();
            env["LANG"] = "zh_TW.UTF-8";
        }
        std::vector<std::string> args = {kToolWindows};
        if (options.exactTail) {
            env["LAUNCH_COMMAND_LINE"] = std::string(kToolWindows) + " " + tail;
            args = {"C:\\tools\\launch.exe"};
        } else if (!tail.empty()) {
            args.push_back(tail);
        }
        ToolRun run;
        run.result = prefix().wine(args, env, 120);
        EXPECT_TRUE(run.result.finished) << "the tool did not end";
        EXPECT_EQ(run.result.exitStatus, 0);

        std::vector<TracedCall> all = parseRelayTrace(run.result.err);
        std::set<std::string> toolThreads;
        for (const TracedCall& call : all) {
            bool launcher = call.function == "CreateProcessA" && !call.strings.empty() &&
                            call.strings[0].find("servicectl.exe") != std::string::npos;
            if (launcher) lastLaunch_ = call.strings[0];
            if (!launcher && call.function != "WaitForSingleObject")
                toolThreads.insert(call.thread);
        }
        for (const TracedCall& call : all) {
            if (toolThreads.count(call.thread) == 0) continue;
            run.calls.push_back(call);
            const std::size_t n = call.strings.size();
            if (call.function == "MessageBoxA") {
                run.boxes.push_back({n > 0 ? call.strings[0] : "", n > 1 ? call.strings[1] : "",
                                     call.truncated && n < 2});
            } else if (call.function == "CreateProcessA") {
                run.creations.push_back(call);
            }
        }
        return run;
    }

    // `startOnly`: the box whose text only the start is known of (see the Chinese texts).
    void expectBoxes(const ToolRun& run, const std::vector<Box>& expected,
                     std::size_t startOnly = std::string::npos) {
        ASSERT_EQ(run.boxes.size(), expected.size()) << run.result.err.size() << " bytes of trace";
        for (std::size_t i = 0; i < expected.size(); ++i) {
            const Box& shown = run.boxes[i];
            if (i == startOnly) {
                const std::size_t n = std::min(shown.text.size(), expected[i].text.size());
                EXPECT_GE(n, 20u) << "box " << i;
                EXPECT_EQ(shown.text.substr(0, n), expected[i].text.substr(0, n)) << "box " << i;
            } else if (shown.textCut) {
                // Wine cuts long strings in its trace; what it shows must start the text.
                EXPECT_GE(shown.text.size(), 40u) << "box " << i;
                EXPECT_EQ(expected[i].text.compare(0, shown.text.size(), shown.text), 0)
                    << "box " << i;
            } else {
                EXPECT_EQ(shown.text, expected[i].text) << "box " << i;
                EXPECT_EQ(shown.caption, expected[i].caption) << "box " << i;
            }
        }
    }

    // Checks the one creation of the service: the quoted program path, no separate application
    // name, no inheritance, CREATE_NO_WINDOW, the inherited environment, the service folder.
    void expectServiceCreation(const ToolRun& run) {
        ASSERT_EQ(run.creations.size(), 1u);
        const TracedCall& call = run.creations[0];
        ASSERT_EQ(call.strings.size(), 2u);
        EXPECT_EQ(call.rawArguments.compare(0, 9, "00000000,"), 0) << call.rawArguments;
        EXPECT_EQ(call.strings[0], kServiceCommandLine);
        EXPECT_EQ(call.strings[1], std::string(kServiceFolderWindows) + "\\");
        EXPECT_NE(call.rawArguments.find(",00000000,00000000,00000000,08000000,00000000,"),
                  std::string::npos)
            << call.rawArguments;
    }

    std::vector<pid_t> background_;
    std::string lastLaunch_;
};

TEST_F(ServicectlUnderWine, StartWithNothingRunningStartsTheServiceShowsTheBoxAndWaitsForIt) {
    ToolRun run = runTool("/start");
    expectBoxes(run, {{"IC Card component starts", "Message"}});
    expectServiceCreation(run);
    EXPECT_EQ(run.sequence(), (std::vector<std::string>{"CreateProcessA", "MessageBoxA", "wait"}));
    // The service saw the quoted command line and its folder, and had ended when the tool ended.
    std::vector<RecordLine> starts = recordOf("start");
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(starts[0].size(), 4u);
    EXPECT_EQ(starts[0][2], kServiceFolderWindows);
    EXPECT_EQ(starts[0][3], kServiceCommandLine);
    EXPECT_EQ(recordOf("exit").size(), 1u);
}

TEST_F(ServicectlUnderWine, StartWhileRunningSaysSoAndStartsNothing) {
    startRunningService(kOtherNodeWindows);
    ToolRun run = runTool("/start");
    expectBoxes(run, {{"IC Card component is running", "Error"}});
    EXPECT_TRUE(run.creations.empty());
}

TEST_F(ServicectlUnderWine, StopTerminatesEveryNodeExe) {
    struct Case {
        const char* name;
        std::vector<const char*> services;
        Box box;
    };
    const Case cases[] = {
        {"none", {}, {"IC Card component is not running", "Error"}},
        {"one", {kServiceNodeWindows}, {"IC Card component has been stopped", "OK"}},
        {"two, one outside the service folder",
         {kServiceNodeWindows, kOtherNodeWindows},
         {"IC Card component has been stopped", "OK"}},
    };
    for (const Case& c : cases) {
        std::vector<pid_t> services;
        for (const char* path : c.services) services.push_back(startRunningService(path));
        ToolRun run = runTool("/stop");
        expectBoxes(run, {c.box});
        EXPECT_TRUE(run.creations.empty()) << c.name;
        for (pid_t pid : services) {
            RunResult ended = prefix().waitFor(pid, 30);
            EXPECT_TRUE(ended.finished) << c.name << ": a node.exe survived /stop";
        }
        EXPECT_TRUE(recordOf("exit").empty()) << c.name << ": terminated, not ended by itself";
        background_.clear();
    }
}

TEST_F(ServicectlUnderWine, FirstStartDeletesTheLogsOnlyAfterTheServiceEnded) {
    writeEveryLog();
    ToolRun run =
        runTool("/firststart", {desktopLogWindows("debug") + ";" + desktopLogWindows("exceptions") +
                                ";" + desktopLogWindows("systemstatus")});
    expectBoxes(run, {});
    expectServiceCreation(run);
    std::vector<RecordLine> watched = recordOf("watch");
    ASSERT_EQ(watched.size(), 3u);
    for (const RecordLine& line : watched) EXPECT_EQ(line.at(3), "present") << line[2];
    expectNoLog();
}

TEST_F(ServicectlUnderWine, FirstStartWhileRunningChangesNothing) {
    startRunningService(kServiceNodeWindows);
    writeFile(desktopLog("debug"), "kept");
    ToolRun run = runTool("/firststart");
    expectBoxes(run, {});
    EXPECT_TRUE(run.creations.empty());
    EXPECT_EQ(readFile(desktopLog("debug")), "kept");
}

TEST_F(ServicectlUnderWine, DebugBeginRestartsThenCreatesTheLogsKeepingTheirContent) {
    setInstalled(true);
    writeFile(desktopLog("debug"), "earlier session\r\n");
    ToolRun run = runTool("/debugBegin", {desktopLogWindows("exceptions")});
    expectBoxes(run, {{kBeginBox, ""}, {kRestartsBox, ""}});
    expectServiceCreation(run);
    EXPECT_EQ(run.sequence(),
              (std::vector<std::string>{"MessageBoxA", "MessageBoxA", "CreateProcessA", "wait"}));
    // Created only once the restarted service had ended; never truncated.
    ASSERT_EQ(recordOf("watch").size(), 1u);
    EXPECT_EQ(recordOf("watch")[0].at(3), "absent");
    EXPECT_EQ(readFile(desktopLog("debug")), "earlier session\r\n");
    EXPECT_TRUE(fileExists(desktopLog("exceptions")));
    EXPECT_EQ(readFile(desktopLog("exceptions")), "");
    EXPECT_TRUE(fileExists(desktopTrace()));
    EXPECT_EQ(readFile(desktopTrace()), "");
}

TEST_F(ServicectlUnderWine, DebugWhileRunningReportsItRunningAndListsTheProcesses) {
    setInstalled(true);
    startRunningService(kServiceNodeWindows);
    writeFile(desktopLog("exceptions"), "seen before\r\n");
    ToolRun run = runTool("/debug");
    expectBoxes(run,
                {{kBeginBox, ""},
                 {"IC Card componet has been installed\r\nIC Card componet is running\r\n", ""}});
    EXPECT_TRUE(run.creations.empty());
    EXPECT_EQ(readFile(desktopLog("debug")), "");
    EXPECT_EQ(readFile(desktopLog("exceptions")), "seen before\r\n");
    std::string log = readFile(desktopLog("systemstatus"));
    EXPECT_NE(log.find(std::string(kRegistryHeader) +
                       "DisplayName=Card Service\r\nEstimatedSize=Publisher=Card Team\r\n" +
                       kProcessHeader),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("PROCESS NAME:  node.exe\r\n"), std::string::npos);
    EXPECT_NE(log.find("PROCESS NAME:  servicectl.exe\r\n"), std::string::npos);
}

TEST_F(ServicectlUnderWine, DebugEndStopsDeletesTheLogsAndRestarts) {
    pid_t running = startRunningService(kOtherNodeWindows);
    writeEveryLog();
    ToolRun run = runTool("/debugEnd", {desktopLogWindows("debug")});
    expectBoxes(run, {{"End for troubleshooting tool", ""}});
    expectServiceCreation(run);
    EXPECT_TRUE(prefix().waitFor(running, 30).finished);
    background_.clear();
    ASSERT_EQ(recordOf("watch").size(), 1u);
    EXPECT_EQ(recordOf("watch")[0].at(3), "absent");
    expectNoLog();
}

TEST_F(ServicectlUnderWine, UsageBox) {
    ToolRun run = runTool("/?");
    expectBoxes(run, {{"Please enter the parameter\n/start:Start\n/stop:Stop\n/debugBegin:Start "
                       "Troubleshooting\n/debugEnd:End Troubleshooting",
                       "Error"}});
}

TEST_F(ServicectlUnderWine, TailsThatAreNoSwitchRunTheStatusReport) {
    setInstalled(false);
    struct Case {
        const char* tail;
        bool exact;
    };
    const Case cases[] = {{"", false}, {"/START", false}, {"/start ", true}};
    for (const Case& c : cases) {
        ToolRun run = runTool(c.tail, {"", c.exact});
        expectBoxes(run, {{kVersionBox, ""}, {"IC Card component is not installed (Code:0)", ""}});
        EXPECT_TRUE(run.creations.empty()) << "'" << c.tail << "'";
        if (c.exact) {
            EXPECT_EQ(lastLaunch_, std::string(kToolWindows) + " " + c.tail);
        }
        // Not installed: the environment section and the registry header only.
        std::string log = readFile(desktopLog("systemstatus"));
        ASSERT_GT(log.size(), sizeof kEnvironmentHeader);
        EXPECT_EQ(log.compare(0, sizeof kEnvironmentHeader - 1, kEnvironmentHeader), 0);
        EXPECT_NE(log[sizeof kEnvironmentHeader - 1], '\r') << "first string on the header line";
        EXPECT_NE(log.find("STANDIN_RECORD=C:\\standin\\record.txt\r\n"), std::string::npos);
        const std::string tail = kRegistryHeader;
        ASSERT_GE(log.size(), tail.size());
        EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
        EXPECT_NE(run.result.out.find("Installed=0"), std::string::npos);
    }
}

TEST_F(ServicectlUnderWine, InstalledButNotRunningReportRestartsTheService) {
    setInstalled(true);
    ToolRun run = runTool("");
    expectBoxes(run, {{kVersionBox, ""}, {kRestartsBox, ""}});
    expectServiceCreation(run);
    EXPECT_EQ(recordOf("exit").size(), 1u);
    std::string log = readFile(desktopLog("systemstatus"));
    EXPECT_NE(log.find(kProcessHeader), std::string::npos);
    EXPECT_EQ(log.find("PROCESS NAME:  node.exe"), std::string::npos);
}

TEST_F(ServicectlUnderWine, MissingServiceFolderShowsCodeTwoThenTheErrorBox) {
    std::string folder = prefix().unixPath(kServiceFolderWindows);
    ASSERT_EQ(std::system(("rm -rf '" + folder + "'").c_str()), 0);
    ToolRun run = runTool("/start");
    expectBoxes(run, {{"code=2", "caption"}, {"IC Card component cannot be initialized", "Error"}});
    ASSERT_EQ(run.creations.size(), 1u);
    EXPECT_EQ(run.creations[0].strings.at(0), kServiceCommandLine);
    EXPECT_TRUE(recordOf("start").empty());
}

TEST_F(ServicectlUnderWine, TraditionalChineseUiShowsTheChineseTextsWithTheSameCaptions) {
    ASSERT_TRUE(fileExists(prefix().localeDirectory() + "/zh_TW.UTF-8"))
        << "localedef could not compile zh_TW.UTF-8";
    setInstalled(false);
    Options options;
    options.chinese = true;
    struct Case {
        const char* tail;
        std::vector<Box> boxes;
    };
    const std::string versionBox = utf8ToCp950("跨平台網頁元件偵錯工具，版本1.0.3.1013");
    const std::string notInstalled = utf8ToCp950("未安裝跨平台網頁元件 (代碼:0)");
    const Case cases[] = {
        {"/?",
         {{utf8ToCp950("請輸入參數\n/start:啟動\n/stop:停止\n/debugBegin:開始偵錯\n"
                       "/debugEnd:結束偵錯"),
           "Error"}}},
        {"/stop", {{utf8ToCp950("跨平台元件末執行"), "Error"}}},
        {"", {{versionBox, ""}, {notInstalled, ""}}},
        {"/debugBegin",
         {{utf8ToCp950("跨平台網頁元件偵錯開始 (偵錯元件版本1.0.3.1013)。\n\n相關記錄檔將出現在您的"
                       "『桌面』上，檔名為『VemraLog_』開頭的檔案。\n\n"),
           ""},
          {notInstalled, ""}}},
    };
    for (const Case& c : cases) {
        ToolRun run = runTool(c.tail, options);
        SCOPED_TRACE(c.tail);
        // The long begin text: Wine's trace shows its start only; compare what it shows.
        expectBoxes(run, c.boxes, std::string(c.tail) == "/debugBegin" ? 0 : std::string::npos);
    }
}

// Both Windows builds are GUI programs (no console window) that import system DLLs only, so they
// run from a bare folder without the MinGW runtime. The headers as the cross toolchain reads them.
TEST(WindowsBuildTest, BothArchitecturesAreSelfContainedGuiPrograms) {
    const char* win32 = std::getenv("SERVICECTL_WIN32_EXE");
    ASSERT_NE(win32, nullptr);
    const struct {
        std::string path;
        const char* arch;
        const char* format;  // objdump's name of the machine: 0x8664 and 0x14c
    } cases[] = {{buildPath("bin/servicectl.exe"), "x86_64", "pei-x86-64"},
                 {win32, "i686", "pei-i386"}};
    const std::set<std::string> systemDlls = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                              "shell32.dll", "msvcrt.dll"};
    testsupport::ProcessOptions options;
    options.searchPath = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const RunResult dump = testsupport::runProcess(std::string(c.arch) + "-w64-mingw32-objdump",
                                                       {"-p", c.path}, options, 60);
        ASSERT_EQ(dump.exitStatus, 0) << dump.err;
        EXPECT_NE(dump.out.find(std::string("file format ") + c.format + "\n"), std::string::npos);
        EXPECT_NE(dump.out.find("\nSubsystem\t\t00000002\t"), std::string::npos) << "not GUI";
        std::size_t dlls = 0;
        std::istringstream lines(dump.out);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("\tDLL Name: ", 0) != 0) continue;
            std::string dll = line.substr(11);
            std::transform(dll.begin(), dll.end(), dll.begin(),
                           [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
            EXPECT_EQ(systemDlls.count(dll), 1u) << "imports " << dll;
            ++dlls;
        }
        EXPECT_GT(dlls, 0u);
    }
}

}  // namespace
}  // namespace wine
}  // namespace servicectl
