// The bridge's answers without a function list: the query and login calls report a module that
// is not initialised, the binding and release calls a bad argument.
#include "bridge.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(Bridge, AnswersWithoutAFunctionList) {
    CK_INFO info;
    CK_SLOT_INFO slotInfo;
    CK_TOKEN_INFO tokenInfo;
    CK_SESSION_INFO sessionInfo;
    CK_SLOT_ID slots[2];
    CK_ULONG count = 2;
    CK_SESSION_HANDLE session = 0;
    unsigned char pin[] = "1234";
    void* module = nullptr;
    CK_FUNCTION_LIST_PTR functions = nullptr;
    struct Case {
        const char* name;
        std::function<CK_RV()> call;
        CK_RV rv;
    } cases[] = {
        {"BindWithoutName", [&] { return token::BindModule(nullptr, &module, &functions); },
         CKR_ARGUMENTS_BAD},
        {"BindWithoutOutputs", [&] { return token::BindModule("x.so", nullptr, nullptr); },
         CKR_ARGUMENTS_BAD},
        {"Release", [&] { return token::ReleaseModule(&module, &functions); }, CKR_ARGUMENTS_BAD},
        {"GetInfo", [&] { return token::GetInfo(nullptr, &info); }, CKR_CRYPTOKI_NOT_INITIALIZED},
        {"GetSlotList", [&] { return token::GetSlotList(nullptr, slots, &count); },
         CKR_CRYPTOKI_NOT_INITIALIZED},
        {"GetSlotInfo", [&] { return token::GetSlotInfo(nullptr, 1, &slotInfo); },
         CKR_CRYPTOKI_NOT_INITIALIZED},
        {"GetTokenInfo", [&] { return token::GetTokenInfo(nullptr, 1, &tokenInfo); },
         CKR_CRYPTOKI_NOT_INITIALIZED},
        {"OpenSession", [&] { return token::OpenSession(nullptr, 1, &session); },
         CKR_CRYPTOKI_NOT_INITIALIZED},
        {"CloseSession", [&] { return token::CloseSession(nullptr, 1); },
         CKR_CRYPTOKI_NOT_INITIALIZED},
        {"GetSessionInfo", [&] { return token::GetSessionInfo(nullptr, 1, &sessionInfo); },
         CKR_CRYPTOKI_NOT_INITIALIZED},
        {"Login", [&] { return token::Login(nullptr, 1, pin, 4); }, CKR_CRYPTOKI_NOT_INITIALIZED},
        {"Logout", [&] { return token::Logout(nullptr, 1); }, CKR_CRYPTOKI_NOT_INITIALIZED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.call(), c.rv);
    }
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(module, nullptr);
}

}  // namespace
