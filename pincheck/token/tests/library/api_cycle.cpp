#include "api_cycle.h"

#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace apitest {
namespace {

std::string stepFailed(const char* step, unsigned long code) {
    char text[80];
    std::snprintf(text, sizeof text, "%s: 0x%08lX", step, code);
    return text;
}

}  // namespace

SoftHsmKeyToken::SoftHsmKeyToken() : pair(keytest::makeKeyPair(dir.path(), "cycle")) {
    if (!keytest::importKeyPair(hsm, pair, kKeyIdHex, "cycle", "cycle", kPin))
        throw std::runtime_error("pkcs11-tool could not import the key pair");
}

std::string mockKeyScript(const keytest::KeyPair& pair) {
    return std::string("slot 1 label=\"mock token\"\n") + "key slot=1 id=" + kKeyIdHex + " pem=\"" +
           pair.pemPath + "\"\n" + "cert slot=1 id=" + kKeyIdHex + " der=\"" + pair.certDerPath +
           "\"\n";
}

TokenResult CycleSteps::bind(const std::string& module) {
    return InitLibrary(module.c_str(), &ctx);
}

TokenResult CycleSteps::login() {
    return keytest::loginFirstToken(&ctx, kPin);
}

TokenResult CycleSteps::openKey() {
    const keytest::Bytes id = keytest::fromHex(kKeyIdHex);
    return GetKey(&ctx, id.data(), id.size(), &key);
}

bool CycleSteps::sign(const std::string& message) {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::size_t length = 0;
    if (!md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
        EVP_DigestSign(md.get(), nullptr, &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1)
        return false;
    signature.resize(length);
    if (EVP_DigestSign(md.get(), signature.data(), &length,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1)
        return false;
    signature.resize(length);
    return true;
}

TokenResult CycleSteps::freeKey() {
    EVP_PKEY* k = key;
    key = nullptr;
    return FreeKey(k);
}

TokenResult CycleSteps::logout() {
    return LogoutToken(&ctx);
}

TokenResult CycleSteps::close() {
    return CloseLibrary(&ctx);
}

std::string runCycle(const std::string& module, EVP_PKEY* publicKey) {
    static const std::string kMessage = "one request of a long-lived caller";
    CycleSteps steps;
    std::string failure;
    if (TokenResult r = steps.bind(module)) return stepFailed("InitLibrary", r);
    if (TokenResult r = steps.login()) {
        failure = stepFailed("LoginToken", r);
    } else {
        if (TokenResult r2 = steps.openKey()) {
            failure = stepFailed("GetKey", r2);
        } else if (!steps.sign(kMessage)) {
            failure = "sign";
        } else if (!keytest::verifyMessage(publicKey, EVP_sha256(), kMessage, steps.signature)) {
            failure = "the signature does not verify";
        }
        if (TokenResult r2 = steps.freeKey(); r2 && failure.empty())
            failure = stepFailed("FreeKey", r2);
        if (TokenResult r2 = steps.logout(); r2 && failure.empty())
            failure = stepFailed("LogoutToken", r2);
    }
    if (TokenResult r = steps.close(); r && failure.empty())
        failure = stepFailed("CloseLibrary", r);
    return failure;
}

}  // namespace apitest
