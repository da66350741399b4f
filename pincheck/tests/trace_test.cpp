// The support trace of pincheck: why a module was not bound, told from the file itself, and
// whole lines from programs appending at once.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mock_module.h"
#include "process.h"
#include "run_pincheck.h"
#include "temp_dir.h"
#include "trace_check.h"

namespace {

const std::string kRequest = pinchecktest::request("1234", "-1");
const std::string kInitFailure = pinchecktest::reply("3657433094", "初始化函式庫失敗!!!");

testsupport::ProcessOptions traced(const std::string& folder, const std::string& trace) {
    testsupport::ProcessOptions options;
    options.env = {"LD_LIBRARY_PATH=" + folder, "CARD_TRACE_FILE=" + trace};
    return options;
}

// A 64-byte ELF header of a 32-bit x86 shared library, no more: the loader refuses it by its
// class before it reads anything else.
std::string elf32Header() {
    std::string header("\x7F\x45LF\x01\x01\x01", 7);  // \x45: 'E'
    header.resize(64, '\0');
    header[16] = 3;  // ET_DYN
    header[18] = 3;  // EM_386
    return header;
}

TEST(PincheckTrace, ModuleThatCannotBeBoundIsDiagnosedFromItsFile) {
#if !defined(__x86_64__)
    GTEST_SKIP() << "the expected texts name this program as 64-bit x64";
#endif
    const struct {
        const char* name;
        const char* folder;    // a built folder holding the module file, or "" for a file written
        std::string contents;  // ...with these bytes (none: an empty folder)
        const char* stage;
        const char* diagnosis;
    } cases[] = {
        {"no file", "", "", "load", "file not found"},
        {"text file", "", "not a library\n", "load", "not a library"},
        {"32-bit ELF", "", elf32Header(), "load",
         "module is 32-bit x86, this program is 64-bit x64"},
        {"missing dependency", MODULE_NEEDS_ABSENT_DIR, "", "load",
         "dependency not found: libcard_absent_dep.so"},
        {"no C_GetFunctionList", MODULE_NO_ENTRY_DIR, "", "symbol",
         "library without C_GetFunctionList"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        if (!c.contents.empty()) testsupport::writeFile(dir.file("ZarqoPKCS11.so"), c.contents);
        const std::string folder = *c.folder ? c.folder : dir.path();
        const auto run = testsupport::runProcess(PINCHECK_BINARY, {kRequest},
                                                 traced(folder, dir.file("trace.jsonl")));
        EXPECT_EQ(run.out, kInitFailure);
        const auto events = testsupport::readTrace(dir.file("trace.jsonl"));
        const Json::Value* load = testsupport::findEvent(events, "module.load");
        ASSERT_TRUE(load);
        EXPECT_FALSE((*load)["loaded"].asBool());
        EXPECT_EQ((*load)["stage"].asString(), c.stage);
        EXPECT_EQ((*load)["diagnosis"].asString(), c.diagnosis);
    }
}

TEST(PincheckTrace, TraceThatCannotBeWrittenChangesNothing) {
    testsupport::MockModule module("slot 1\n");
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("file"), "");
    // Off; a missing folder, a folder in place of the file, a path through a file, a full disk.
    for (const std::string& path : {std::string(), dir.file("missing/trace.jsonl"), dir.path(),
                                    dir.file("file/trace.jsonl"), std::string("/dev/full")}) {
        SCOPED_TRACE(path);
        const auto run =
            testsupport::runProcess(PINCHECK_BINARY, {kRequest}, traced(module.folder(), path));
        EXPECT_EQ(run.out, pinchecktest::reply("0", ""));
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(run.exitStatus, 0);
    }
}

TEST(PincheckTrace, TwentyProgramsAppendingAtOnceLeaveWholeLines) {
    testsupport::MockModule module("slot 1\n");
    testsupport::TempDir dir;
    const std::string trace = dir.file("trace.jsonl");
    std::vector<std::unique_ptr<testsupport::Process>> runs;
    for (int i = 0; i < 20; ++i)
        runs.push_back(std::make_unique<testsupport::Process>(
            PINCHECK_BINARY, std::vector<std::string>{kRequest}, traced(module.folder(), trace)));
    for (auto& run : runs) EXPECT_EQ(run->wait(60).exitStatus, 0);
    std::size_t starts = 0, ends = 0;
    for (const Json::Value& event : testsupport::readTrace(trace)) {
        starts += event["event"].asString() == "pincheck.start";
        ends += event["event"].asString() == "pincheck.end";
    }
    EXPECT_EQ(starts, 20u);
    EXPECT_EQ(ends, 20u);
}

}  // namespace
