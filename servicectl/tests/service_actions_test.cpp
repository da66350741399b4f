// The switch dispatch and the service actions, run against the recording fake.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_platform.h"
#include "messages.h"
#include "service_control.h"

namespace servicectl {
namespace {

using testing::Box;
using testing::FakePlatform;
using testing::FakeProcess;

using testing::kCreateEvent;

std::vector<std::string> logDeletions() {
    using namespace testing;
    return {"delete " + kDebugLog, "delete " + kExceptionsLog, "delete " + kStatusLog,
            "delete " + kTrace};
}

void run(FakePlatform& platform, const char* tail) {
    EXPECT_EQ(runServicectl(platform, tail), 0);
}

void append(std::vector<std::string>& events, const std::vector<std::string>& more) {
    events.insert(events.end(), more.begin(), more.end());
}

std::vector<std::string> terminations(const std::vector<std::uint32_t>& processIds) {
    std::vector<std::string> events;
    for (std::uint32_t id : processIds) events.push_back("terminate " + std::to_string(id));
    return events;
}

TEST(SwitchTest, TailSelectsTheActionByItsFirstBox) {
    struct Case {
        const char* tail;
        std::string firstText;  // empty: no box at all
    };
    const std::string version = messages::kVersionBox.english;
    std::vector<Case> cases = {
        {"/start", messages::kStarts.english},
        {"/stop", messages::kNotRunning.english},
        {"/?", messages::kUsage.english},
        {"/debugBegin", messages::kBeginBox.english},
        {"/debug", messages::kBeginBox.english},
        {"/debugEnd", messages::kTroubleshootingEnded.english},
        {"/firststart", ""},
    };
    // Compared whole and case-sensitively: anything else is the status report.
    for (const char* tail : {"", "/START", "/start ", " /start", "/start /stop", "start", "/Stop",
                             "/debugbegin", "/debugEN", "/firstStart", "/??", "-?"}) {
        cases.push_back({tail, version});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("tail '") + c.tail + "'");
        FakePlatform platform;
        run(platform, c.tail);
        if (c.firstText.empty()) {
            EXPECT_TRUE(platform.boxes.empty());
        } else {
            ASSERT_FALSE(platform.boxes.empty());
            EXPECT_EQ(platform.boxes.front().text, c.firstText);
        }
    }
}

TEST(StartTest, NothingRunningStartsTheQuotedCommandLineThenShowsTheBoxThenWaits) {
    FakePlatform platform;
    platform.processes = {{4, "System"}, {880, "explorer.exe"}};
    run(platform, "/start");
    EXPECT_EQ(platform.events, (std::vector<std::string>{"snapshot", kCreateEvent, "box Message",
                                                         "wait", "service ended"}));
    EXPECT_EQ(platform.boxes, (std::vector<Box>{{"IC Card component starts", "Message"}}));
}

TEST(StartTest, AnyNodeExeAnywhereCountsAsRunning) {
    FakePlatform platform;
    platform.processes = {{4, "System"}, {77, "node.exe"}, {880, "explorer.exe"}};
    run(platform, "/start");
    EXPECT_TRUE(platform.eventsStartingWith("create").empty());
    EXPECT_EQ(platform.boxes, (std::vector<Box>{{"IC Card component is running", "Error"}}));
}

TEST(StartTest, FailedSnapshotCountsAsNotRunning) {
    for (SnapshotStatus status :
         {SnapshotStatus::SnapshotFailed, SnapshotStatus::FirstEntryFailed}) {
        FakePlatform platform;
        platform.snapshotStatus = status;
        run(platform, "/start");
        EXPECT_EQ(platform.eventsStartingWith("create"), std::vector<std::string>{kCreateEvent});
    }
}

TEST(StartTest, CreationFailureShowsTheCodeInLowerCaseHexThenTheErrorBox) {
    struct Case {
        std::uint32_t error;
        const char* codeText;
    };
    const Case cases[] = {{2, "code=2"}, {0xc1, "code=c1"}, {0x800700c1, "code=800700c1"}};
    for (const Case& c : cases) {
        FakePlatform platform;
        platform.createError = c.error;
        run(platform, "/start");
        EXPECT_EQ(platform.boxes,
                  (std::vector<Box>{{c.codeText, "caption"},
                                    {"IC Card component cannot be initialized", "Error"}}));
        EXPECT_TRUE(platform.eventsStartingWith("wait").empty());
    }
}

// The program path is quoted and the quotes count against the 260-byte buffer: a command line that
// does not fit whole is never started, since a cut one would name some other program.
TEST(StartTest, CommandLineMustFitItsBufferWithQuotesAndTerminator) {
    const std::string tail = "\\VemraLocalSignServer\\node.exe\" vemraLocalServer.js";
    const std::size_t fixedPart = 1 + tail.size();  // opening quote + the rest
    struct Case {
        std::size_t commandLineLength;
        bool started;
    };
    const Case cases[] = {{200, true}, {259, true}, {260, false}, {300, false}};
    for (const Case& c : cases) {
        FakePlatform platform;
        platform.programFiles = "C:\\" + std::string(c.commandLineLength - fixedPart - 3, 'p');
        run(platform, "/start");
        std::string expected = "\"" + platform.programFiles + tail;
        ASSERT_EQ(expected.size(), c.commandLineLength);
        if (c.started) {
            EXPECT_EQ(platform.eventsStartingWith("create"),
                      std::vector<std::string>{"create " + expected + " in " +
                                               platform.programFiles + "\\VemraLocalSignServer\\"});
            EXPECT_EQ(platform.boxes.at(0).text, "IC Card component starts");
        } else {
            EXPECT_TRUE(platform.eventsStartingWith("create").empty()) << c.commandLineLength;
            EXPECT_EQ(platform.boxes,
                      (std::vector<Box>{{"code=ce", "caption"},
                                        {"IC Card component cannot be initialized", "Error"}}));
        }
    }
}

TEST(StartTest, NoProgramFilesFolderIsAPathNotFoundFailure) {
    FakePlatform platform;
    platform.hasProgramFiles = false;
    run(platform, "/start");
    EXPECT_TRUE(platform.eventsStartingWith("create").empty());
    EXPECT_EQ(platform.boxes.at(0), (Box{"code=3", "caption"}));
}

TEST(StopTest, OutcomeFollowsTheLastTerminationAttempt) {
    struct Case {
        const char* name;
        SnapshotStatus status;
        std::vector<FakeProcess> processes;
        std::vector<std::uint32_t> terminated;
        Box box;
    };
    const Box stopped{"IC Card component has been stopped", "OK"};
    const Box cannot{"IC Card component cannot be stopped", "Error"};
    const Box notRunning{"IC Card component is not running", "Error"};
    using S = SnapshotStatus;
    const Case cases[] = {
        {"one", S::Ok, {{4, "System"}, {10, "node.exe"}}, {10}, stopped},
        {"none", S::Ok, {{4, "System"}, {11, "nodejs.exe"}}, {}, notRunning},
        {"two", S::Ok, {{10, "node.exe"}, {4, "x.exe"}, {12, "node.exe"}}, {10, 12}, stopped},
        {"last refuses", S::Ok, {{10, "node.exe"}, {12, "node.exe", false}}, {10, 12}, cannot},
        {"first refuses", S::Ok, {{10, "node.exe", false}, {12, "node.exe"}}, {10, 12}, stopped},
        {"only one refuses", S::Ok, {{10, "node.exe", false}}, {10}, cannot},
        // The name is compared exactly, case included.
        {"spellings", S::Ok, {{10, "NODE.EXE"}, {11, "Node.exe"}, {12, "node"}}, {}, notRunning},
        {"snapshot failed", S::SnapshotFailed, {{10, "node.exe"}}, {}, notRunning},
        {"first entry failed", S::FirstEntryFailed, {{10, "node.exe"}}, {}, notRunning},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform;
        platform.snapshotStatus = c.status;
        platform.processes = c.processes;
        run(platform, "/stop");
        EXPECT_EQ(platform.eventsStartingWith("terminate"), terminations(c.terminated));
        EXPECT_EQ(platform.boxes, std::vector<Box>{c.box});
        EXPECT_TRUE(platform.eventsStartingWith("wait").empty());
    }
}

TEST(FirstStartTest, WhileRunningDoesNothingAtAll) {
    FakePlatform platform;
    platform.processes = {{10, "node.exe"}};
    run(platform, "/firststart");
    EXPECT_EQ(platform.events, std::vector<std::string>{"snapshot"});
}

TEST(FirstStartTest, DeletesTheLogsOnlyAfterTheServiceEndedOrFailedToStart) {
    for (std::uint32_t createError : {0u, 2u}) {
        FakePlatform platform;
        platform.createError = createError;
        run(platform, "/firststart");
        std::vector<std::string> expected = {"snapshot", kCreateEvent};
        if (createError == 0) {
            append(expected, {"wait", "service ended"});
        } else {
            append(expected, {"box caption", "box Error"});
        }
        append(expected, logDeletions());
        EXPECT_EQ(platform.events, expected) << createError;
    }
}

TEST(EndTroubleshootingTest, StopsDeletesTheLogsAndRestartsWithoutReportingTheStop) {
    struct Case {
        const char* name;
        std::vector<FakeProcess> processes;
        std::vector<std::uint32_t> terminated;
    };
    const Case cases[] = {
        {"running", {{10, "node.exe"}, {11, "node.exe", false}}, {10, 11}},
        {"not running", {{4, "System"}}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlatform platform;
        platform.processes = c.processes;
        run(platform, "/debugEnd");
        std::vector<std::string> expected = {"box ", "snapshot"};
        if (!c.terminated.empty()) expected.push_back("snapshot");
        append(expected, terminations(c.terminated));
        append(expected, logDeletions());
        append(expected, {kCreateEvent, "wait", "service ended"});
        EXPECT_EQ(platform.events, expected);
        EXPECT_EQ(platform.boxes, (std::vector<Box>{{"End for troubleshooting tool", ""}}));
    }
}

// Every box of the service actions in both languages; the captions never change.
TEST(LanguageTest, TraditionalChineseUiShowsTheChineseTextsWithTheSameCaptions) {
    struct Case {
        const char* tail;
        std::vector<FakeProcess> processes;
        std::uint32_t createError;
        std::vector<const Text*> texts;
        std::vector<std::string> captions;
    };
    const Case cases[] = {
        {"/stop", {{10, "node.exe"}}, 0, {&messages::kStopped}, {"OK"}},
        {"/stop", {{10, "node.exe", false}}, 0, {&messages::kStopFailed}, {"Error"}},
        {"/stop", {}, 0, {&messages::kNotRunning}, {"Error"}},
        {"/start", {{10, "node.exe"}}, 0, {&messages::kAlreadyRunning}, {"Error"}},
        {"/start", {}, 0, {&messages::kStarts}, {"Message"}},
        {"/start", {}, 5, {nullptr, &messages::kCannotInitialize}, {"caption", "Error"}},
        {"/?", {}, 0, {&messages::kUsage}, {"Error"}},
        {"/debugEnd", {}, 0, {&messages::kTroubleshootingEnded}, {""}},
    };
    for (std::uint16_t language : {0x0404, 0x0409}) {
        for (const Case& c : cases) {
            FakePlatform platform;
            platform.uiLanguage = language;
            platform.processes = c.processes;
            platform.createError = c.createError;
            run(platform, c.tail);
            std::vector<Box> expected;
            for (std::size_t i = 0; i < c.texts.size(); ++i) {
                const Text* text = c.texts[i];
                std::string shown = text == nullptr      ? "code=5"
                                    : language == 0x0404 ? text->chinese
                                                         : text->english;
                expected.push_back({shown, c.captions[i]});
            }
            EXPECT_EQ(platform.boxes, expected) << c.tail << " language " << language;
        }
    }
}

}  // namespace
}  // namespace servicectl
