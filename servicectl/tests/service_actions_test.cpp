// The switch dispatch and the service actions, run against the recording fake.
#include <string>
#include <tuple>
#include <vector>

#include "fake_platform.h"
#include "messages.h"

namespace servicectl {
namespace {

using namespace testing;

Events operator+(Events events, const Events& more) {
    events.insert(events.end(), more.begin(), more.end());
    return events;
}

const Events kLogDeletions = {"delete " + kDebugLog, "delete " + kExceptionsLog,
                              "delete " + kStatusLog, "delete " + kTrace};
const Events kServiceRan = {kCreateEvent, "wait", "service ended"};
const Events kStartedWithBox = {"snapshot", kCreateEvent, "box Message", "wait", "service ended"};
const Events kStartFailed = {kCreateEvent, "box caption", "box Error"};

const Box kStarts{"IC Card component starts", "Message"};
const Box kAlreadyRunning{"IC Card component is running", "Error"};
const Box kCannotInitialize{"IC Card component cannot be initialized", "Error"};
const Box kStopped{"IC Card component has been stopped", "OK"};
const Box kCannotStop{"IC Card component cannot be stopped", "Error"};
const Box kNotRunning{"IC Card component is not running", "Error"};
const Box kEnded{"End for troubleshooting tool", ""};

// The stop switch looks for the service, then takes a second snapshot to stop each node.exe.
Events stopping(const std::vector<std::uint32_t>& terminated, const std::string& caption) {
    Events events = {"snapshot", "snapshot"};
    for (std::uint32_t id : terminated) events.push_back("terminate " + std::to_string(id));
    return events + Events{"box " + caption};
}
const Events kSnapshotThenError = {"snapshot", "box Error"};

TEST(SwitchTest, TailSelectsTheActionByItsFirstBox) {
    struct Case {
        const char* tail;
        std::string firstText;  // empty: no box at all
    };
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
        cases.push_back({tail, messages::kVersionBox.english});
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

struct Action {
    const char* name;
    const char* tail;
    std::vector<FakeProcess> processes;
    Events events;
    Boxes boxes;  // in English; the captions stay the same on a Chinese UI
    SnapshotStatus snapshotStatus = SnapshotStatus::Ok;
    std::uint32_t createError = 0;
    bool hasProgramFiles = true;
    std::string programFiles = "C:\\Program Files (x86)";
};

void PrintTo(const Action& c, std::ostream* os) {
    *os << c.name;
}

const std::string kServiceTail = "\\VemraLocalSignServer\\node.exe\" vemraLocalServer.js";
// A Program Files folder that makes the quoted service command line `length` bytes long.
std::string folderFor(std::size_t length) {
    return "C:\\" + std::string(length - 4 - kServiceTail.size(), 'p');
}
Events startedFrom(const std::string& folder) {
    return {"snapshot",
            "create \"" + folder + kServiceTail + " in " + folder + "\\VemraLocalSignServer\\",
            "box Message", "wait", "service ended"};
}

using S = SnapshotStatus;
const Box kCode2{"code=2", "caption"};
const Events kNotCreated = {"snapshot", "box caption", "box Error"};
// clang-format off
const Action kActions[] = {
    // The service starts, then its box shows, then the tool waits for it.
    {"startWithNothingRunning", "/start", {{4, "System"}, {880, "explorer.exe"}}, kStartedWithBox,
     {kStarts}},
    // Any node.exe anywhere counts as the service.
    {"startWhileRunning", "/start", {{4, "System"}, {77, "node.exe"}, {880, "explorer.exe"}},
     kSnapshotThenError, {kAlreadyRunning}},
    // A failed snapshot counts as not running.
    {"startAfterFailedSnapshot", "/start", {}, kStartedWithBox, {kStarts}, S::SnapshotFailed},
    {"startAfterFailedFirstEntry", "/start", {}, kStartedWithBox, {kStarts}, S::FirstEntryFailed},
    // A failed creation shows its code in lower-case hex, then the error box; nothing is awaited.
    {"startFailing2", "/start", {}, Events{"snapshot"} + kStartFailed,
     {kCode2, kCannotInitialize}, S::Ok, 2},
    {"startFailingC1", "/start", {}, Events{"snapshot"} + kStartFailed,
     {{"code=c1", "caption"}, kCannotInitialize}, S::Ok, 0xc1},
    {"startFailing800700C1", "/start", {}, Events{"snapshot"} + kStartFailed,
     {{"code=800700c1", "caption"}, kCannotInitialize}, S::Ok, 0x800700c1},
    // Without a Program Files folder the path is not found.
    {"startWithoutProgramFiles", "/start", {}, kNotCreated,
     {{"code=3", "caption"}, kCannotInitialize}, S::Ok, 0, false},
    // Every node.exe is tried; the outcome follows the last attempt.
    {"stopOne", "/stop", {{4, "System"}, {10, "node.exe"}}, stopping({10}, "OK"), {kStopped}},
    {"stopNone", "/stop", {{4, "System"}, {11, "nodejs.exe"}}, kSnapshotThenError, {kNotRunning}},
    {"stopTwo", "/stop", {{10, "node.exe"}, {4, "x.exe"}, {12, "node.exe"}},
     stopping({10, 12}, "OK"), {kStopped}},
    {"stopLastRefuses", "/stop", {{10, "node.exe"}, {12, "node.exe", false}},
     stopping({10, 12}, "Error"), {kCannotStop}},
    {"stopFirstRefuses", "/stop", {{10, "node.exe", false}, {12, "node.exe"}},
     stopping({10, 12}, "OK"), {kStopped}},
    {"stopOnlyOneRefuses", "/stop", {{10, "node.exe", false}}, stopping({10}, "Error"),
     {kCannotStop}},
    // The name is compared exactly, case included.
    {"stopSpellings", "/stop", {{10, "NODE.EXE"}, {11, "Node.exe"}, {12, "node"}},
     kSnapshotThenError, {kNotRunning}},
    {"stopAfterFailedSnapshot", "/stop", {{10, "node.exe"}}, kSnapshotThenError, {kNotRunning},
     S::SnapshotFailed},
    {"stopAfterFailedFirstEntry", "/stop", {{10, "node.exe"}}, kSnapshotThenError, {kNotRunning},
     S::FirstEntryFailed},
    {"stopWithNoProcesses", "/stop", {}, kSnapshotThenError, {kNotRunning}},
    // The first start does nothing at all while the service runs, and deletes the logs only after
    // the service ended or failed to start.
    {"firstStartWhileRunning", "/firststart", {{10, "node.exe"}}, {"snapshot"}, {}},
    {"firstStart", "/firststart", {}, Events{"snapshot"} + kServiceRan + kLogDeletions, {}},
    {"firstStartFailing", "/firststart", {}, Events{"snapshot"} + kStartFailed + kLogDeletions,
     {kCode2, kCannotInitialize}, S::Ok, 2},
    // Ending troubleshooting stops, deletes the logs and restarts without reporting the stop.
    {"endWhileRunning", "/debugEnd", {{10, "node.exe"}, {11, "node.exe", false}},
     Events{"box ", "snapshot", "snapshot", "terminate 10", "terminate 11"} + kLogDeletions +
         kServiceRan, {kEnded}},
    {"endWhileNotRunning", "/debugEnd", {{4, "System"}},
     Events{"box ", "snapshot"} + kLogDeletions + kServiceRan, {kEnded}},
    {"usage", "/?", {}, {"box Error"}, {{messages::kUsage.english, "Error"}}},
    // The program path is quoted and the quotes count against the 260-byte buffer: a command line
    // that does not fit whole is never started, since a cut one would name some other program.
    {"commandLineOf200", "/start", {}, startedFrom(folderFor(200)), {kStarts}, S::Ok, 0, true,
     folderFor(200)},
    {"commandLineOf259", "/start", {}, startedFrom(folderFor(259)), {kStarts}, S::Ok, 0, true,
     folderFor(259)},
    {"commandLineOf260", "/start", {}, kNotCreated, {{"code=ce", "caption"}, kCannotInitialize},
     S::Ok, 0, true, folderFor(260)},
    {"commandLineOf300", "/start", {}, kNotCreated, {{"code=ce", "caption"}, kCannotInitialize},
     S::Ok, 0, true, folderFor(300)},
};
// clang-format on

// A Traditional Chinese UI shows the Chinese text of every message; the code box reads the same.
Boxes shownIn(std::uint16_t language, Boxes boxes) {
    const Text* texts[] = {&messages::kStopped,    &messages::kStopFailed,
                           &messages::kNotRunning, &messages::kAlreadyRunning,
                           &messages::kStarts,     &messages::kCannotInitialize,
                           &messages::kUsage,      &messages::kTroubleshootingEnded};
    for (Box& box : boxes) {
        for (const Text* text : texts) {
            if (box.text == text->english) box.text = text->in(language);
        }
    }
    return boxes;
}

class ServiceActionTest : public ::testing::TestWithParam<std::tuple<Action, std::uint16_t>> {};

TEST_P(ServiceActionTest, ShowsItsBoxesAfterItsCallsInOrder) {
    const Action& c = std::get<0>(GetParam());
    const std::uint16_t language = std::get<1>(GetParam());
    FakePlatform platform;
    platform.processes = c.processes;
    platform.snapshotStatus = c.snapshotStatus;
    platform.createError = c.createError;
    platform.hasProgramFiles = c.hasProgramFiles;
    platform.programFiles = c.programFiles;
    platform.uiLanguage = language;
    run(platform, c.tail);
    EXPECT_EQ(platform.events, c.events);
    EXPECT_EQ(platform.boxes, shownIn(language, c.boxes));
}

INSTANTIATE_TEST_SUITE_P(
    Actions, ServiceActionTest,
    ::testing::Combine(::testing::ValuesIn(kActions), ::testing::Values(0x0409, 0x0404)),
    [](const ::testing::TestParamInfo<std::tuple<Action, std::uint16_t>>& info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) == 0x0404 ? "Chinese" : "English");
    });

}  // namespace
}  // namespace servicectl
