// A long-lived caller of the shared library, unlike pincheck: a thousand requests in one process,
// each binding the module, logging in, signing with a token key and releasing everything. Memory,
// open files and loaded modules must stay where they were; in the sanitizer build LeakSanitizer
// also checks at exit that nothing was lost. And a key kept past the module's release.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <malloc.h>
#include <openssl/err.h>

#include <cstddef>
#include <cstdio>
#include <set>
#include <string>

#include "api_cycle.h"

#if defined(__SANITIZE_ADDRESS__)
#define TOKEN_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TOKEN_TEST_ASAN 1
#endif
#endif
#ifdef TOKEN_TEST_ASAN
// The sanitizer runtime's heap count (GCC ships no header that declares it).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// Bytes the process holds on its heap right now.
std::size_t heapInUse() {
#ifdef TOKEN_TEST_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

std::set<std::string> openFiles() {
    std::set<std::string> fds;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') fds.insert(entry->d_name);
        closedir(dir);
    }
    return fds;
}

std::multiset<std::string> loadedModules() {
    std::multiset<std::string> modules;
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* out) {
            static_cast<std::multiset<std::string>*>(out)->insert(info->dlpi_name);
            return 0;
        },
        &modules);
    return modules;
}

TEST(TokenApiLongLived, ThousandCyclesKeepMemoryFilesAndModulesFlat) {
    apitest::SoftHsmKeyToken token;
    constexpr int kCycles = 1000;
    // The crypto library's caches grow over the first few hundred cycles (about 20 KB), then only
    // now and then by a few hundred bytes.
    constexpr int kWarmUp = 500;
    // Lost memory makes nearly every cycle end on a new heap high; the caches, a few.
    constexpr int kMostNewHighs = (kCycles - kWarmUp) / 4;

    const auto filesAtStart = openFiles();
    const auto modulesAtStart = loadedModules();
    // The test holds a handle of its own on the module through the cycles: loading a module costs
    // the sanitizer runtime about 450 bytes of bookkeeping each time (measured with a bare dlopen
    // and dlclose), which is not the layer's. Once that handle is dropped the module must be gone,
    // so the layer kept none.
    void* heldModule = dlopen(token.hsm.kModule, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(heldModule, nullptr) << dlerror();
    std::size_t heapAfterWarmUp = 0;
    std::size_t high = 0;
    int newHighs = 0;
    for (int i = 1; i <= kCycles; ++i) {
        ASSERT_EQ(apitest::runCycle(token.hsm.kModule, token.pair.publicKey.get()), "")
            << "cycle " << i;
        const std::size_t heap = heapInUse();
        if (i == kWarmUp) heapAfterWarmUp = high = heap;
        if (i > kWarmUp && heap > high) {
            high = heap;
            ++newHighs;
        }
        if (i == 1) {
            EXPECT_EQ(openFiles(), filesAtStart) << "after the first cycle";
        }
    }
    dlclose(heldModule);
    EXPECT_EQ(openFiles(), filesAtStart);
    EXPECT_EQ(loadedModules(), modulesAtStart);
    EXPECT_LE(newHighs, kMostNewHighs) << "heap after cycle " << kWarmUp << ": " << heapAfterWarmUp
                                       << " bytes, highest since: " << high << " bytes";
    std::printf("heap after cycle %d: %zu bytes, highest after: %zu bytes in %d steps\n", kWarmUp,
                heapAfterWarmUp, high, newHighs);
}

// A caller that keeps a key past CloseLibrary: the key still holds the module, so its signing
// reaches the finalised module, which refuses, and FreeKey lets the module go.
TEST(TokenApiLongLived, KeyKeptPastCloseLibraryIsRefusedByTheModule) {
    apitest::SoftHsmKeyToken token;
    const auto modulesAtStart = loadedModules();
    apitest::CycleSteps steps;
    ASSERT_EQ(steps.bind(token.hsm.kModule), 0u);
    ASSERT_EQ(steps.login(), 0u);
    ASSERT_EQ(steps.openKey(), 0u);
    EXPECT_EQ(steps.logout(), 0u);
    EXPECT_EQ(steps.close(), 0u);

    ERR_clear_error();
    EXPECT_FALSE(steps.sign("after the release"));
    EXPECT_EQ(ERR_GET_LIB(ERR_peek_error()), ERR_LIB_USER);
    EXPECT_EQ(ERR_GET_REASON(ERR_peek_error()), static_cast<int>(CKR_CRYPTOKI_NOT_INITIALIZED));
    ERR_clear_error();
    EXPECT_NE(loadedModules(), modulesAtStart);
    EXPECT_EQ(steps.freeKey(), 0u);
    EXPECT_EQ(loadedModules(), modulesAtStart);
}

}  // namespace
