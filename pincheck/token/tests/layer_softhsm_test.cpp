// The layer against SoftHSM2, a real third-party PKCS#11 module: binding, slot listing (SoftHSM
// always adds one slot with an uninitialised token), texts, login and logout, release.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context_guard.h"
#include "pin_login.h"
#include "softhsm_token.h"
#include "token_api.h"

using testsupport::SoftHsmToken;

namespace {

class LayerSoftHsm : public ::testing::Test {
  protected:
    void SetUp() override {
        hsm_ = std::make_unique<SoftHsmToken>("Layer Test", "123456", "87654321");
        ASSERT_EQ(InitLibrary(SoftHsmToken::kModule, &g_), 0u);
        count_ = 10;
        ASSERT_EQ(GetSlotID(&g_, slots_, &count_), 0u);
        ASSERT_GE(count_, 1u);
    }
    // Declared before the context, so the module is released before its token folder goes.
    std::unique_ptr<SoftHsmToken> hsm_;
    ContextGuard g_;
    CK_SLOT_ID slots_[10] = {};
    CK_ULONG count_ = 0;
};

TEST_F(LayerSoftHsm, ListsTheTokenAndTheExtraEmptySlot) {
    ASSERT_EQ(count_, 2u);
    // Both report a token: the extra one is present but uninitialised.
    EXPECT_EQ(IsTokenPresent(&g_, slots_[0]), 1u);
    EXPECT_EQ(IsTokenPresent(&g_, slots_[1]), 1u);
    CK_ULONG word = 0;
    EXPECT_EQ(LoginToken(&g_, slots_[1], nullptr, &word), 0xDA0000E1u);
    EXPECT_EQ(g_.ctx.session, nullptr);

    CK_SLOT_ID small[1];
    CK_ULONG capacity = 1;
    EXPECT_EQ(GetSlotID(&g_, small, &capacity), 0xDA000150u);
    EXPECT_EQ(capacity, 1u);
}

TEST_F(LayerSoftHsm, TextsComeWithoutTheirPadding) {
    char text[80];
    CK_ULONG length = sizeof text;
    ASSERT_EQ(GetTokenLabel(&g_, slots_[0], text, &length), 0u);
    EXPECT_EQ(std::string(text), "Layer Test");
    EXPECT_EQ(length, 10u);

    length = sizeof text;
    ASSERT_EQ(GetTokenSerialNumber(&g_, slots_[0], text, &length), 0u);
    EXPECT_EQ(length, 16u);  // SoftHSM fills all 16 characters
    EXPECT_EQ(GetTokenSerialNumber(&g_, slots_[0], text, &length), 0xDA000150u);
    EXPECT_EQ(length, 16u);

    // The module's descriptions are not ours to know; they come cut, with their NUL.
    for (bool library : {true, false}) {
        SCOPED_TRACE(library ? "library" : "slot");
        length = sizeof text;
        ASSERT_EQ(library ? GetLibraryDesc(&g_, text, &length)
                          : GetSlotDesc(&g_, slots_[0], text, &length),
                  0u);
        EXPECT_GT(length, 0u);
        EXPECT_NE(text[length - 1], ' ');
        EXPECT_EQ(text[length], '\0');
    }

    length = sizeof text;
    EXPECT_EQ(GetTokenLabel(&g_, 0xFFFF, text, &length), 0xDA000003u);
}

TEST_F(LayerSoftHsm, LoginOutcomes) {
    struct Case {
        const char* name;
        std::string pin;
        TokenResult result;
    } cases[] = {
        {"Wrong", "654321", 0xDA0000A0u},
        {"Overlong", std::string(300, '1'), 0xDA0000A2u},
        {"Right", "123456", 0u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CK_ULONG word = 0xAAAA;
        EXPECT_EQ(LoginToken(&g_, slots_[0], c.pin.c_str(), &word), c.result);
        if (c.result == 0) {
            EXPECT_EQ(word, 0u);  // SoftHSM reports no device error
            EXPECT_NE(g_.ctx.session, nullptr);
        } else {
            EXPECT_EQ(g_.ctx.session, nullptr);
            EXPECT_EQ(LogoutToken(&g_), 0xDA000101u);
        }
    }
    EXPECT_EQ(LogoutToken(&g_), 0u);
    EXPECT_EQ(g_.ctx.session, nullptr);
    EXPECT_EQ(LogoutToken(&g_), 0xDA000101u);
}

// SoftHSM counts no tries: after a wrong PIN its token flags say only that one was wrong.
TEST_F(LayerSoftHsm, WrongPinLeavesOnlyCountLowInTheFlags) {
    token::PinLoginReport report;
    EXPECT_EQ(token::loginForPinCheck(&g_, slots_[0], "654321", &report), 0xDA0000A0u);
    EXPECT_TRUE(report.tokenFlagsRead);
    EXPECT_EQ(
        report.tokenFlags & (CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED),
        static_cast<CK_FLAGS>(CKF_USER_PIN_COUNT_LOW));
}

TEST_F(LayerSoftHsm, SessionWithoutPinThenLogout) {
    CK_ULONG word = 0;
    ASSERT_EQ(LoginToken(&g_, slots_[0], nullptr, &word), 0u);
    EXPECT_EQ(LoginToken(&g_, slots_[0], "123456", &word), 0xDA000100u);
    EXPECT_EQ(LogoutToken(&g_), 0u);
    EXPECT_EQ(LoginToken(&g_, slots_[0], "123456", &word), 0u);
    EXPECT_EQ(LogoutToken(&g_), 0u);
}

TEST_F(LayerSoftHsm, SecondBindingAndRelease) {
    TokenContext second{};
    EXPECT_EQ(InitLibrary(SoftHsmToken::kModule, &second), 0u);
    CK_SLOT_ID slots[10];
    CK_ULONG count = 10;
    EXPECT_EQ(GetSlotID(&second, slots, &count), 0u);
    EXPECT_EQ(count, count_);
    // The first release finalises the module; the second finds it so and still unloads.
    EXPECT_EQ(CloseLibrary(&second), 0u);
    EXPECT_EQ(CloseLibrary(&g_), 0xDA000190u);
    EXPECT_EQ(g_.ctx.library, nullptr);
    EXPECT_EQ(GetSlotID(&g_, slots, &count), 0xDA000190u);
}

}  // namespace
