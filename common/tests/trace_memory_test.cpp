// The support trace when memory runs out part way through a line: the line is dropped whole,
// never written in part, and the traced call goes on.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <string>

#include "common/trace.h"

namespace {
long allocationsLeft = -1;  // before the next one fails; negative: none fails
int failedAllocations = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (allocationsLeft == 0) {
        ++failedAllocations;
        throw std::bad_alloc();
    }
    if (allocationsLeft > 0) --allocationsLeft;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// Not inlined: GCC would otherwise pair the free with the operator new it sees at the call.
[[gnu::noinline]] void operator delete(void* p) noexcept {
    std::free(p);
}
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace {

TEST(TraceOutOfMemory, DropsEveryLineItCannotBuildWhole) {
    const std::string path = ::testing::TempDir() + "trace_out_of_memory.jsonl";
    std::remove(path.c_str());
    ASSERT_EQ(setenv("CARD_TRACE_FILE", path.c_str(), 1), 0);
    ASSERT_TRUE(cardtrace::on());
    const std::string reader(40, 'r');
    const unsigned char atr[] = {0x3B, 0x88, 0x80, 0x01};
    const unsigned char label[] = "a token label longer than fifteen";
    int whole = 0, dropped = 0;
    for (long allowed = 0; dropped == 0 || failedAllocations > 0; ++allowed) {
        failedAllocations = 0;
        allocationsLeft = allowed;
        cardtrace::Event("memory")
            .number("allowed", allowed)
            .text("reader", reader)
            .text("module", "a module name longer than fifteen")
            .padded("label", label, sizeof label - 1)
            .hex("atr", atr, sizeof atr)
            .unsignedNumber("big", ~0ull)
            .ms("ms", 1e30)
            .flag("ok", true)
            .json("raw", "[1,2]");
        allocationsLeft = -1;
        ++(failedAllocations > 0 ? dropped : whole);
        ASSERT_LT(allowed, 1000) << "the line never got built";
    }
    std::ifstream in(path);
    int lines = 0;
    for (std::string line; std::getline(in, line); ++lines) {
        EXPECT_EQ(line.rfind("{\"time\":\"", 0), 0u) << line;
        EXPECT_NE(line.find(",\"reader\":\"" + reader + "\""), std::string::npos) << line;
        const std::string end = ",\"ok\":true,\"raw\":[1,2]}";
        EXPECT_EQ(line.substr(line.size() - end.size()), end) << line;
    }
    EXPECT_GT(dropped, 5);
    EXPECT_EQ(lines, whole);
}

}  // namespace
