#include "api_cycle.h"

#include <openssl/evp.h>

#include <cstdio>

namespace apitest {

TokenResult CycleSteps::openKey() {
    const keytest::Bytes id = keytest::fromHex(kKeyIdHex);
    return GetKey(&ctx, id.data(), id.size(), &key);
}

std::string runCycle(const std::string& module, EVP_PKEY* publicKey) {
    static const std::string kMessage = "one request of a long-lived caller";
    CycleSteps steps;
    std::string failure;
    // The first failed step is the answer; the releasing steps run after it all the same.
    const auto passed = [&failure](const char* step, TokenResult r) {
        if (r && failure.empty()) {
            char text[80];
            std::snprintf(text, sizeof text, "%s: 0x%08lX", step, static_cast<unsigned long>(r));
            failure = text;
        }
        return r == 0;
    };
    if (!passed("InitLibrary", steps.bind(module))) return failure;
    if (passed("LoginToken", steps.login())) {
        if (passed("GetKey", steps.openKey())) {
            if (!steps.sign(kMessage))
                failure = "sign";
            else if (!keytest::verifyMessage(publicKey, EVP_sha256(), kMessage, steps.signature))
                failure = "the signature does not verify";
        }
        passed("FreeKey", steps.freeKey());
        passed("LogoutToken", steps.logout());
    }
    passed("CloseLibrary", steps.close());
    return failure;
}

}  // namespace apitest
