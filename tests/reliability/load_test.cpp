// Many runs in a row, and two at once on one card. Every reply must be the right one, and
// nothing may grow from run to run: the open files and resident memory of the processes that
// stay (the private pcscd, the simulated cards, which live in this test process), and the peak
// memory of each run of the program.
//
// The counts are short by default, for CI; set RELIAB_PINCHECK_RUNS, RELIAB_CARDDATA_RUNS and
// RELIAB_CONCURRENT_ROUNDS for the full runs (scripts/reliability.sh --full: 1000, 300, 20).
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "carddata_runs.h"
#include "mock_module.h"
#include "softhsm_token.h"

namespace reliability {
namespace {

int countFromEnv(const char* name, int fallback) {
    const char* v = std::getenv(name);
    const int n = v ? std::atoi(v) : 0;
    return n > 0 ? n : fallback;
}

// Peak resident sets of the runs after the first few (the page cache and the dynamic loader
// settle over the first runs): the median of the last quarter may not exceed the median of the
// second quarter by more than 5 % (at least 512 kB). Every run is a new process, so a run's own
// leak cannot add up here; what would is state that outlives a run (the token's files, the
// daemon) and makes each later run heavier. Single runs jitter (the sanitizers' shadow memory
// more than plain runs), which the medians and the slack absorb.
long median(std::vector<long> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

void expectStablePeaks(const std::vector<long>& peaks) {
    ASSERT_GE(peaks.size(), 8u);
    const std::size_t q = peaks.size() / 4;
    const long early =
        median({peaks.begin() + static_cast<long>(q), peaks.begin() + static_cast<long>(2 * q)});
    const long late = median({peaks.end() - static_cast<long>(q), peaks.end()});
    EXPECT_LE(late, early + std::max(512L, early / 20))
        << "median peak of the second quarter " << early << " kB, of the last " << late << " kB";
    ::testing::Test::RecordProperty("peak_rss_kb_median_early", static_cast<int>(early));
    ::testing::Test::RecordProperty("peak_rss_kb_median_late", static_cast<int>(late));
    ::testing::Test::RecordProperty(
        "peak_rss_kb_min", static_cast<int>(*std::min_element(peaks.begin(), peaks.end())));
    ::testing::Test::RecordProperty(
        "peak_rss_kb_max", static_cast<int>(*std::max_element(peaks.begin(), peaks.end())));
}

// The memory of a process that stays (pcscd, the simulator in this process) after the runs,
// against what it held once the first runs had settled. Under AddressSanitizer freed memory is
// held in quarantine instead of being reused, so this process grows without leaking; there the
// leak checker at its exit stands in for this check.
#ifndef __has_feature
#define __has_feature(feature) 0  // compilers that tell by __SANITIZE_ADDRESS__ alone
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool kFreedMemoryIsReused = false;
#else
constexpr bool kFreedMemoryIsReused = true;
#endif

TEST(Load, SequentialPinChecksAgainstSoftHsm) {
    const int runs = countFromEnv("RELIAB_PINCHECK_RUNS", 50);
    testsupport::SoftHsmToken token("card", "1234", "5678");
    const std::string folder = token.moduleFolder();
    const std::string right = "{\"func\":\"load\",\"ret_code\":0,\"message\":\"\"}\n";
    // SoftHSM reports no retry word, so a wrong PIN gets the plain "PIN wrong" (UTF-8).
    const std::string wrong =
        "{\"func\":\"load\",\"ret_code\":3657433248,\"message\":\"PIN\xE7\xA2\xBC\xE9\x8C\xAF"
        "\xE8\xAA\xA4\"}\n";

    const int filesBefore = openFiles();
    std::vector<long> peaks;
    int wrongReplies = 0;
    for (int i = 0; i < runs; ++i) {
        // One wrong PIN in ten; the right one that follows resets the token's retry counter.
        const bool wrongPin = i % 10 == 9;
        const std::string request = std::string("{\"CA_Function\":\"load\",\"sPin\":\"") +
                                    (wrongPin ? "0000" : "1234") + "\",\"slotID\":\"0\"}";
        const MeasuredResult r =
            runMeasured(PINCHECK_PATH, {request}, {"LD_LIBRARY_PATH=" + folder});
        if (r.exitStatus != 0 || !r.err.empty() || r.out != (wrongPin ? wrong : right)) {
            ++wrongReplies;
            ADD_FAILURE() << "run " << i << ": " << describe(r);
        }
        if (i >= 5) peaks.push_back(r.peakRssKb);
    }
    EXPECT_EQ(wrongReplies, 0);
    EXPECT_EQ(openFiles(), filesBefore);
    expectStablePeaks(peaks);
    RecordProperty("runs", runs);
}

class LoadOnCards : public CarddataFixture {};

// A run whose reply is not the data `want` is reported and counted.
void countWrongData(const MeasuredResult& r, const std::string& want, const std::string& which,
                    int& wrongReplies) {
    const Reply reply = readReply(r);
    if (reply.wellFormed && reply.code == 0 && reply.msg == want) return;
    ++wrongReplies;
    ADD_FAILURE() << which << ": " << reply.run;
}

TEST_F(LoadOnCards, SequentialReadsOfBothCardKinds) {
    const int runs = countFromEnv("RELIAB_CARDDATA_RUNS", 30);
    const CardProfile main = cardWith(CardKind::Main, "ABCD", 0x03);
    CardProfile starcos = cardWith(CardKind::Starcos, "EFGH", 0x05);
    starcos.records[3] = cardsim::patternRecord(3, 300);
    pcsctest::CardInReader mainCard(pcscd(), main, 0);
    pcsctest::CardInReader starcosCard(pcscd(), starcos, 1);
    const std::string wantMain = base64(dataSelectedBy(main, 0x03));
    const std::string wantStarcos = base64(dataSelectedBy(starcos, 0x05));

    const std::string daemon = findProcess(pcscd().folder());
    ASSERT_FALSE(daemon.empty()) << "the private pcscd is not to be found";

    std::vector<long> peaks;
    int wrongReplies = 0;
    int daemonFiles = 0, simFiles = 0;
    long daemonRss = 0, simRss = 0;
    for (int i = 0; i < runs; ++i) {
        const bool onMain = i % 2 == 0;
        const MeasuredResult r = runCarddata(
            carddataRequest("1234", onMain ? "ABCD" : "EFGH", pcscd().readerName(onMain ? 0 : 1)));
        countWrongData(r, onMain ? wantMain : wantStarcos, "run " + std::to_string(i),
                       wrongReplies);
        if (i >= 4) peaks.push_back(r.peakRssKb);
        if (i == 3) {  // after the first runs have settled every lazy allocation
            daemonFiles = openFiles(daemon);
            daemonRss = residentKb(daemon);
            simFiles = openFiles();
            simRss = residentKb();
        }
    }
    EXPECT_EQ(wrongReplies, 0);
    // pcscd closes a finished client's socket on its own thread, a moment after the client has
    // gone; a busy machine can make that moment long.
    int daemonFilesNow = openFiles(daemon);
    for (int wait = 0; wait < 40 && daemonFilesNow != daemonFiles; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        daemonFilesNow = openFiles(daemon);
    }
    EXPECT_EQ(daemonFilesNow, daemonFiles) << "pcscd's open files changed";
    EXPECT_EQ(openFiles(), simFiles) << "the simulator's open files changed";
    EXPECT_LE(residentKb(daemon), daemonRss + 256) << "pcscd grew";
    if (kFreedMemoryIsReused) {
        EXPECT_LE(residentKb(), simRss + 2048) << "the simulator grew";
    }
    RecordProperty("pcscd_rss_kb_growth", static_cast<int>(residentKb(daemon) - daemonRss));
    RecordProperty("simulator_rss_kb_growth", static_cast<int>(residentKb() - simRss));
    RecordProperty("pcscd_open_files", openFiles(daemon));
    expectStablePeaks(peaks);
    RecordProperty("runs", runs);
}

TEST_F(LoadOnCards, TwoConcurrentReadsOnOneCard) {
    const int rounds = countFromEnv("RELIAB_CONCURRENT_ROUNDS", 3);
    CardProfile card = cardWith(CardKind::Main, "ABCD", 0x03);
    card.entries.push_back({"WXYZ", 0x24});
    pcsctest::CardInReader inserted(pcscd(), card, 0);
    const std::string reader = pcscd().readerName(0);
    const std::string wantFirst = base64(dataSelectedBy(card, 0x03));
    const std::string wantSecond = base64(dataSelectedBy(card, 0x24));

    int wrongReplies = 0;
    const auto options = measured({"PCSCLITE_CSOCK_NAME=" + pcscd().socketPath()});
    for (int round = 0; round < rounds; ++round) {
        testsupport::Process first(CARDDATA_PATH, {carddataRequest("1234", "ABCD", reader)},
                                   options);
        testsupport::Process second(CARDDATA_PATH, {carddataRequest("1234", "WXYZ", reader)},
                                    options);
        const std::string at = "round " + std::to_string(round);
        countWrongData(first.wait(), wantFirst, at + ", first", wrongReplies);
        countWrongData(second.wait(), wantSecond, at + ", second", wrongReplies);
    }
    EXPECT_EQ(wrongReplies, 0);
    RecordProperty("rounds", rounds);
}

}  // namespace
}  // namespace reliability
