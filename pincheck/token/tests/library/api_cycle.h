// What the library's callers do over and over: one request from binding the module to releasing
// it, every answer checked, and the tokens they do it on.
#pragma once

#include <string>
#include <utility>

#include "key_fixtures.h"

namespace apitest {

constexpr const char* kPin = "1234";
constexpr const char* kKeyIdHex = "a1b2";

// A SoftHSM2 token (PIN kPin) holding one RSA key pair and its certificate under kKeyIdHex.
struct SoftHsmKeyToken : keytest::SoftHsmKeys {
    SoftHsmKeyToken() : SoftHsmKeys({kKeyIdHex}) {}
    const keytest::KeyPair& pair = pairs.front();
};

// InitLibrary, LoginToken on the first slot with a token, GetKey, a SHA-256 signature that must
// verify with `publicKey`, FreeKey, LogoutToken, CloseLibrary. Empty text when every step
// answered as it should, otherwise the failed step and its code. Releases what it took also when
// a step fails.
std::string runCycle(const std::string& module, EVP_PKEY* publicKey);

// The steps of one cycle, for callers that spread them over threads. Each returns 0 or the code.
struct CycleSteps {
    TokenContext ctx{};
    EVP_PKEY* key = nullptr;
    keytest::Bytes signature;

    TokenResult bind(const std::string& module) { return InitLibrary(module.c_str(), &ctx); }
    TokenResult login() { return keytest::loginFirstToken(&ctx, kPin); }
    TokenResult openKey();
    bool sign(const std::string& message) { return keytest::digestSign(key, message, signature); }
    TokenResult freeKey() { return FreeKey(std::exchange(key, nullptr)); }
    TokenResult logout() { return LogoutToken(&ctx); }
    TokenResult close() { return CloseLibrary(&ctx); }
};

}  // namespace apitest
