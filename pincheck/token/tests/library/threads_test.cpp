// The threading rule of token_api.h, as a caller with threads meets it: a context, its key and
// its certificate pass from thread to thread between calls, the certificate outlives the module,
// and contexts bound to different modules are used from two threads at the same time.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "api_cycle.h"

namespace {

// Runs f on a thread of its own and waits for it.
template <typename F>
auto onNewThread(F f) {
    decltype(f()) result{};
    std::thread([&] { result = f(); }).join();
    return result;
}

TEST(TokenApiThreads, EveryStepOnAnotherThread) {
    apitest::SoftHsmKeyToken token;
    apitest::CycleSteps steps;
    const std::string message = "signed on the fourth thread";
    ASSERT_EQ(onNewThread([&] { return steps.bind(token.hsm.kModule); }), 0u);
    ASSERT_EQ(onNewThread([&] { return steps.login(); }), 0u);
    EXPECT_EQ(onNewThread([&] { return steps.openKey(); }), 0u);
    if (steps.key) {
        EXPECT_TRUE(onNewThread([&] { return steps.sign(message); }));
        EXPECT_TRUE(keytest::verifyMessage(token.pair.publicKey.get(), EVP_sha256(), message,
                                           steps.signature));
        EXPECT_EQ(onNewThread([&] { return steps.freeKey(); }), 0u);
    }
    X509* rawCert = nullptr;
    const keytest::Bytes id = keytest::fromHex(apitest::kKeyIdHex);
    EXPECT_EQ(onNewThread([&] { return GetCert(&steps.ctx, id.data(), id.size(), &rawCert); }), 0u);
    keytest::X509Ptr cert(rawCert);
    EXPECT_EQ(onNewThread([&] { return steps.logout(); }), 0u);
    EXPECT_EQ(onNewThread([&] { return steps.close(); }), 0u);
    // The certificate is the caller's own crypto-library object: it outlives the module.
    ASSERT_NE(cert, nullptr);
    EXPECT_TRUE(onNewThread([&] {
        return keytest::verifyMessage(X509_get0_pubkey(cert.get()), EVP_sha256(), message,
                                      steps.signature);
    }));
}

TEST(TokenApiThreads, ContextsOnDifferentModulesRunAtOnce) {
    apitest::SoftHsmKeyToken token;
    testsupport::MockModule mock("slot 1 label=\"mock token\"\n" +
                                 keytest::mockKeyLines(token.pair, apitest::kKeyIdHex));
    constexpr int kCycles = 150;
    struct Worker {
        std::string module;
        std::string failure;
        int cycles = 0;
    };
    std::vector<Worker> workers = {{token.hsm.kModule, "", 0}, {mock.path(), "", 0}};
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (Worker& w : workers) {
        threads.emplace_back([&] {
            // Start together, so the two threads' calls interleave from the first one.
            ++ready;
            while (ready < static_cast<int>(workers.size())) std::this_thread::yield();
            for (; w.cycles < kCycles && w.failure.empty(); ++w.cycles)
                w.failure = apitest::runCycle(w.module, token.pair.publicKey.get());
        });
    }
    for (std::thread& t : threads) t.join();
    for (const Worker& w : workers) {
        SCOPED_TRACE(w.module);
        EXPECT_EQ(w.failure, "");
        EXPECT_EQ(w.cycles, kCycles);
    }
}

}  // namespace
