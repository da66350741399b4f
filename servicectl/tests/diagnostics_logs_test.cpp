// The status report, its log bytes and the troubleshooting logs, run against the recording fake.
#include <string>
#include <vector>

#include "fake_platform.h"
#include "messages.h"

namespace servicectl {
namespace {

using namespace testing;

const std::string kKeyName =
    "Microsoft\\Windows\\CurrentVersion\\Uninstall\\{5B3F0E72-A9C4-4E18-9D6B-27C1F08A4E93}_is1";
const std::string kUsersKey = ".DEFAULT\\Software\\" + kKeyName;
const std::string kWow64Key = "Software\\WOW6432NODE\\" + kKeyName;
const std::string kMachineKey = "Software\\" + kKeyName;

const std::string kEnvironmentHeader =
    "-------------------------List environment variables-----------------------------------";
const std::string kRegistryHeader =
    "\r\n-------------------------Check Installer registry-----------------------------------\r\n";
const std::string kProcessHeader =
    "\r\n-------------------------List all process-----------------------------------\r\n";
const char kRunningText[] =
    "IC Card componet has been installed\r\nIC Card componet is running\r\n";
const char kRestartingText[] =
    "IC Card componet has been installed\r\n"
    "IC Card componet is not running, and it restarts now\r\n";
const char kNotInstalledText[] = "IC Card component is not installed (Code:0)";

// The status log as the report writes it, section by section.
std::string statusLog(const std::string& environment, const std::string& registry,
                      const std::string& processes) {
    return kEnvironmentHeader + environment + kRegistryHeader + registry + kProcessHeader +
           processes;
}

std::string sz(const std::string& text) {
    return text + std::string(1, '\0');
}
std::string dword(std::uint32_t value) {
    return std::string(reinterpret_cast<char*>(&value), 4);
}

FakePlatform installedMachine() {
    FakePlatform platform;
    platform.environment = {"=C:=C:\\Windows", "PATH=C:\\Windows", "USERNAME=ann"};
    platform.registry[{RegistryRoot::LocalMachine, kMachineKey}] = {
        {"DisplayName", kRegistryString, sz("Card Service")},
        {"EstimatedSize", 4, dword(4096)},
        {"NoModify", 4, dword(1)},
        {"Publisher", kRegistryString, sz("Card Team")}};
    platform.processes = {{0, "[System Process]"}, {4, "System"}, {700, "node.exe"}};
    return platform;
}

TEST(StatusReportTest, InstalledAndRunningWritesTheExactLogAndShowsOneBox) {
    FakePlatform platform = installedMachine();
    run(platform, "");
    // The first environment string continues the header's line; a DWORD value leaves its line
    // open, so the next name follows straight after the "=".
    EXPECT_EQ(
        platform.files[kStatusLog],
        statusLog("=C:=C:\\Windows\r\nPATH=C:\\Windows\r\nUSERNAME=ann\r\n",
                  "DisplayName=Card Service\r\nEstimatedSize=NoModify=Publisher=Card Team\r\n",
                  "PROCESS NAME:  [System Process]\r\nPROCESS NAME:  System\r\n"
                  "PROCESS NAME:  node.exe\r\n"));
    EXPECT_EQ(platform.boxes, (Boxes{{messages::kVersionBox.english, ""}, {kRunningText, ""}}));
    EXPECT_EQ(platform.stdoutText, "Installed=1\n");
    EXPECT_TRUE(platform.eventsStartingWith("create").empty());
}

TEST(StatusReportTest, EachSectionIsAppendedWithTheFileOpenedAfreshAndTheOldLogDeletedFirst) {
    FakePlatform platform = installedMachine();
    platform.files[kStatusLog] = "old report";
    run(platform, "/START");
    EXPECT_EQ(platform.eventsStartingWith("delete"), Events{"delete " + kStatusLog});
    EXPECT_EQ(platform.eventsStartingWith("open"), Events(3, "open " + kStatusLog));
    EXPECT_EQ(platform.files[kStatusLog].find("old report"), std::string::npos);
    EXPECT_EQ(platform.files[kStatusLog].compare(0, kEnvironmentHeader.size() + 1,
                                                 kEnvironmentHeader + "="),
              0);
}

TEST(StatusReportTest, NotInstalledHoldsOnlyTheEnvironmentAndTheRegistryHeader) {
    FakePlatform platform;
    platform.environment = {"A=1"};
    platform.processes = {{4, "System"}};
    run(platform, "/start ");
    EXPECT_EQ(platform.files[kStatusLog], kEnvironmentHeader + "A=1\r\n" + kRegistryHeader);
    EXPECT_EQ(platform.boxes,
              (Boxes{{messages::kVersionBox.english, ""}, {kNotInstalledText, ""}}));
    EXPECT_EQ(platform.stdoutText, "Installed=0\n");
    EXPECT_TRUE(platform.eventsStartingWith("snapshot").empty());
    EXPECT_TRUE(platform.eventsStartingWith("create").empty());
}

TEST(StatusReportTest, TheFirstInstallerKeyThatOpensIsListed) {
    struct Case {
        const char* name;
        bool users, wow64, machine;
        std::string listed;
    };
    const Case cases[] = {
        {"all three", true, true, true, "From=users\r\n"},
        {"wow64 and machine", false, true, true, "From=wow64\r\n"},
        {"machine only", false, false, true, "From=machine\r\n"},
        {"users only", true, false, false, "From=users\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform;
        const RegistryRoot hku = RegistryRoot::Users, hklm = RegistryRoot::LocalMachine;
        if (c.users) platform.registry[{hku, kUsersKey}] = {{"From", 1, sz("users")}};
        if (c.wow64) platform.registry[{hklm, kWow64Key}] = {{"From", 1, sz("wow64")}};
        if (c.machine) platform.registry[{hklm, kMachineKey}] = {{"From", 1, sz("machine")}};
        run(platform, "x");
        EXPECT_EQ(platform.files[kStatusLog], statusLog("", c.listed, ""));
    }
}

// A value that does not fit the 260-byte buffers ends the listing; one that just fits is written
// by its length, never read past the buffer even without a terminator.
TEST(StatusReportTest, RegistryValuesAreBoundedByTheirBuffers) {
    struct Case {
        const char* name;
        FakeValue value;
        std::string listed;
    };
    const std::string name259(259, 'n');
    const std::string data260(260, 'd');
    const Case cases[] = {
        {"name of 259 fits", {name259, 1, sz("v")}, name259 + "=v\r\n"},
        {"name of 260 ends the listing", {std::string(260, 'n'), 1, sz("v")}, ""},
        {"data of 260 without terminator", {"Big", 1, data260}, "Big=" + data260 + "\r\n"},
        {"data of 261 ends the listing", {"Big", 1, data260 + "d"}, ""},
        {"string cut at its first NUL", {"Two", 1, sz("ab") + sz("cd")}, "Two=ab\r\n"},
        {"binary value", {"Bin", 3, std::string("\0\1\2", 3)}, "Bin="},
        {"empty string", {"Empty", 1, sz("")}, "Empty=\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform;
        platform.registry[{RegistryRoot::LocalMachine, kMachineKey}] = {
            {"First", 1, sz("1")}, c.value, {"Last", 1, sz("9")}};
        platform.processes = {{9, "node.exe"}};
        run(platform, "");
        const std::string tailAfterValue = c.listed.empty() ? "" : "Last=9\r\n";
        EXPECT_EQ(platform.files[kStatusLog],
                  statusLog("", "First=1\r\n" + c.listed + tailAfterValue,
                            "PROCESS NAME:  node.exe\r\n"));
        EXPECT_EQ(platform.boxes.back().text.rfind("IC Card componet has been installed", 0), 0u);
    }
}

TEST(StatusReportTest, InstalledButNotRunningRestartsQuietlyAfterTheBox) {
    struct Case {
        const char* name;
        SnapshotStatus status;
        std::string processSection;
    };
    const Case cases[] = {
        {"no node.exe", SnapshotStatus::Ok, "PROCESS NAME:  System\r\n"},
        {"snapshot failed", SnapshotStatus::SnapshotFailed,
         "Failed to createToolhelp32Snapshot (of processes)\r\n"},
        {"first entry failed", SnapshotStatus::FirstEntryFailed, "Failed in process32First\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform = installedMachine();
        platform.environment.clear();
        platform.processes = {{4, "System"}};
        platform.snapshotStatus = c.status;
        run(platform, "");
        const std::string& log = platform.files[kStatusLog];
        EXPECT_EQ(log.substr(log.find(kProcessHeader)), kProcessHeader + c.processSection);
        EXPECT_EQ(platform.boxes.back(), (Box{kRestartingText, ""}));
        // The report's box comes first, then the start without a start message.
        const Events& e = platform.events;
        ASSERT_GE(e.size(), 4u);
        EXPECT_EQ(Events(e.end() - 4, e.end()),
                  (Events{"box ", kCreateEvent, "wait", "service ended"}));
    }
}

// A desktop folder that cannot be written, or whose log paths do not fit 260 bytes, loses the log
// but never the report.
TEST(StatusReportTest, UnusableLogFileIsSkippedAndTheReportGoesOn) {
    struct Case {
        const char* name;
        std::string desktop;
        bool folderMissing;
        bool hasDesktop;
    };
    const Case cases[] = {
        {"missing folder", "C:\\Users\\ann\\Desktop", true, true},
        {"no desktop folder", "", false, false},
        {"status log path of 260", "C:\\" + std::string(260 - 3 - 26, 'd'), false, true},
        {"desktop path of 400", "C:\\" + std::string(400, 'd'), false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform = installedMachine();
        platform.desktop = c.desktop;
        platform.hasDesktop = c.hasDesktop;
        if (c.folderMissing) platform.missingFolders.insert(c.desktop);
        run(platform, "");
        EXPECT_TRUE(platform.files.empty());
        EXPECT_TRUE(platform.eventsStartingWith("open ").empty());
        EXPECT_EQ(platform.boxes.back().text, kRunningText);
        EXPECT_EQ(platform.stdoutText, "Installed=1\n");
    }
}

TEST(StatusReportTest, LogPathsThatJustFitAreUsed) {
    FakePlatform platform = installedMachine();
    // 259 bytes with the longest name; the shorter names fit as well.
    platform.desktop = "C:\\" + std::string(259 - 3 - 26, 'd');
    run(platform, "/debug");
    const std::string status = platform.desktop + "\\VemraLog_systemstatus.log";
    ASSERT_EQ(status.size(), 259u);
    EXPECT_EQ(platform.files.count(status), 1u);
    EXPECT_EQ(platform.files.count(platform.desktop + "\\VemraLog_debug.log"), 1u);
    EXPECT_EQ(platform.files.count(platform.desktop + "\\VemraLog_exceptions.log"), 1u);
}

TEST(TroubleshootingTest, BeginShowsItsBoxReportsAndCreatesTheLogsAfterTheRestartedServiceEnded) {
    FakePlatform platform = installedMachine();
    platform.processes = {{4, "System"}};
    bool debugLogExistedWhileServiceRan = true;
    platform.whileServiceRuns = [&] {
        debugLogExistedWhileServiceRan = platform.files.count(kDebugLog) > 0;
    };
    run(platform, "/debugBegin");
    EXPECT_FALSE(debugLogExistedWhileServiceRan);
    EXPECT_EQ(platform.boxes.front(), (Box{messages::kBeginBox.english, ""}));
    EXPECT_EQ(platform.boxes.size(), 2u);
    const Events& e = platform.events;
    ASSERT_GE(e.size(), 4u);
    EXPECT_EQ(Events(e.end() - 4, e.end()), (Events{"service ended", "open " + kDebugLog,
                                                    "open " + kExceptionsLog, "open " + kTrace}));
    for (const std::string& log : {kDebugLog, kExceptionsLog, kTrace})
        EXPECT_EQ(platform.files[log], "");
}

TEST(TroubleshootingTest, BeginningAgainKeepsWhatTheServiceWrote) {
    for (const char* tail : {"/debugBegin", "/debug"}) {
        SCOPED_TRACE(tail);
        FakePlatform platform = installedMachine();
        platform.files[kDebugLog] = "debug lines\r\n";
        platform.files[kExceptionsLog] = "exception lines\r\n";
        platform.files[kTrace] = "{}\n";
        run(platform, tail);
        run(platform, tail);
        EXPECT_EQ(platform.files[kDebugLog], "debug lines\r\n");
        EXPECT_EQ(platform.files[kExceptionsLog], "exception lines\r\n");
        EXPECT_EQ(platform.files[kTrace], "{}\n");
        EXPECT_TRUE(platform.eventsStartingWith("delete " + kDebugLog).empty());
    }
}

TEST(TroubleshootingTest, NotInstalledBeginStillCreatesTheLogsButStartsNothing) {
    FakePlatform platform;
    run(platform, "/debug");
    EXPECT_EQ(platform.boxes, (Boxes{{messages::kBeginBox.english, ""}, {kNotInstalledText, ""}}));
    EXPECT_TRUE(platform.eventsStartingWith("create").empty());
    EXPECT_EQ(platform.files.count(kDebugLog), 1u);
    EXPECT_EQ(platform.files.count(kExceptionsLog), 1u);
}

TEST(TroubleshootingTest, EndDeletesAllThreeLogsAndTheTrace) {
    FakePlatform platform;
    platform.files = {
        {kDebugLog, "d"}, {kExceptionsLog, "e"}, {kStatusLog, "s"}, {kTrace, "t"}, {"other", "o"}};
    run(platform, "/debugEnd");
    EXPECT_EQ(platform.files, (std::map<std::string, std::string>{{"other", "o"}}));
}

TEST(LanguageTest, TraditionalChineseUiComposesTheChineseReportTexts) {
    struct Case {
        const char* name;
        bool installed;
        bool running;
        std::string text;
    };
    const Case cases[] = {
        {"not installed", false, false,
         "\xa5\xbc\xa6\x77\xb8\xcb\xb8\xf3\xa5\xad\xa5\x78\xba\xf4"
         "\xad\xb6\xa4\xb8\xa5\xf3 (\xa5\x4e\xbd\x58:0)"},
        {"running", true, true,
         std::string(messages::kInstalled.chinese) + messages::kRunningAppended.chinese},
        {"restarting", true, false,
         std::string(messages::kInstalled.chinese) + messages::kRestartingAppended.chinese},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform = c.installed ? installedMachine() : FakePlatform();
        if (!c.running) platform.processes.clear();
        platform.uiLanguage = 0x0404;
        run(platform, "/debugBegin");
        EXPECT_EQ(platform.boxes, (Boxes{{messages::kBeginBox.chinese, ""}, {c.text, ""}}));
    }
    FakePlatform platform;
    platform.uiLanguage = 0x0404;
    run(platform, "");
    EXPECT_EQ(platform.boxes.front(), (Box{messages::kVersionBox.chinese, ""}));
}

}  // namespace
}  // namespace servicectl
