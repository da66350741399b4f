// The PIN check session against a scripted token layer: which calls it makes, in which order, and
// the code and message it leaves for each answer of the layer.
#include "pin_check_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_token_layer.h"
#include "platform/text.h"

namespace {

using faketoken::Script;

constexpr TokenResult kBase = 0xDA000000u;

struct SessionCase {
    const char* name;
    Script script;
    std::int32_t requestedSlot;
    std::uint32_t code;
    const char* messageUtf8;
    std::vector<std::string> calls;  // name, or name:slot for IsTokenPresent and LoginToken
};

std::vector<std::string> callsWithSlots() {
    std::vector<std::string> out;
    for (const auto& call : faketoken::record().calls) {
        if (call.name == "IsTokenPresent" || call.name == "LoginToken")
            out.push_back(call.name + ":" + std::to_string(call.slot));
        else
            out.push_back(call.name);
    }
    return out;
}

Script oneCard(CK_ULONG loginResult = 0, CK_ULONG deviceError = 0) {
    Script s;
    s.slots = {7};
    s.presence = {{7, 1}};
    s.loginResult = static_cast<TokenResult>(loginResult);
    s.deviceError = deviceError;
    return s;
}

// A wrong PIN on a module that reported the token flags after the refusal.
Script wrongPinWithFlags(CK_FLAGS flags, CK_ULONG deviceError = 0) {
    Script s = oneCard(CKR_PIN_INCORRECT | kBase, deviceError);
    s.tokenFlagsRead = true;
    s.tokenFlags = flags;
    return s;
}

Script withSlots(std::vector<CK_SLOT_ID> slots,
                 std::vector<std::pair<CK_SLOT_ID, TokenResult>> presence) {
    Script s;
    s.slots = std::move(slots);
    s.presence = std::move(presence);
    return s;
}

const std::vector<std::string> kAcceptedCalls = {"InitLibrary",  "GetSlotID",   "IsTokenPresent:7",
                                                 "LoginToken:7", "LogoutToken", "CloseLibrary"};
const std::vector<std::string> kRefusedCalls = {"InitLibrary", "GetSlotID", "IsTokenPresent:7",
                                                "LoginToken:7", "CloseLibrary"};

std::vector<SessionCase> sessionCases() {
    std::vector<SessionCase> cases;
    cases.push_back({"PinAccepted", oneCard(), -1, 0, "", kAcceptedCalls});
    cases.push_back({"WrongPinTwoTriesLeft", oneCard(CKR_PIN_INCORRECT | kBase, 0x63C2), -1,
                     3657433248u, "第一次密碼輸入錯誤", kRefusedCalls});
    cases.push_back({"WrongPinOneTryLeft", oneCard(CKR_PIN_INCORRECT | kBase, 0x63C1), -1,
                     3657433248u, "第二次密碼輸入錯誤", kRefusedCalls});
    cases.push_back({"WrongPinNoTryLeft", oneCard(CKR_PIN_INCORRECT | kBase, 0x63C0), -1,
                     3657433248u, "PIN碼錯誤", kRefusedCalls});
    cases.push_back({"WrongPinOtherWord", oneCard(CKR_PIN_INCORRECT | kBase, 0x9000), -1,
                     3657433248u, "PIN碼錯誤", kRefusedCalls});
    {
        // The session presets the word to 0, which is no retry status.
        Script s = oneCard(CKR_PIN_INCORRECT | kBase);
        s.writeDeviceError = false;
        cases.push_back({"WrongPinWordUnwritten", s, -1, 3657433248u, "PIN碼錯誤", kRefusedCalls});
    }
    cases.push_back({"WrongPinFlagsWithoutPinState", wrongPinWithFlags(CKF_LOGIN_REQUIRED), -1,
                     3657433248u, "PIN碼錯誤", kRefusedCalls});
    cases.push_back({"WrongPinFlagsFinalTry",
                     wrongPinWithFlags(CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY), -1,
                     3657433248u, "第二次密碼輸入錯誤", kRefusedCalls});
    cases.push_back({"WrongPinFlagsLocked",
                     wrongPinWithFlags(CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED), -1,
                     3657433248u, "登入卡片失敗", kRefusedCalls});
    cases.push_back({"WrongPinFlagsCountLowOnly", wrongPinWithFlags(CKF_USER_PIN_COUNT_LOW), -1,
                     3657433248u, "PIN碼錯誤", kRefusedCalls});
    // The card's own count decides whenever the module passes it on, 0x63C0 included.
    cases.push_back({"TriesLeftWordOutranksFlags",
                     wrongPinWithFlags(CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED, 0x63C0), -1,
                     3657433248u, "PIN碼錯誤", kRefusedCalls});
    cases.push_back({"PinLengthRefused", oneCard(CKR_PIN_LEN_RANGE | kBase, 0x63C2), -1,
                     3657433250u, "密碼長度不足", kRefusedCalls});
    cases.push_back({"RetryWordIgnoredForOtherRefusals", oneCard(CKR_PIN_LOCKED | kBase, 0x63C2),
                     -1, 3657433252u, "登入卡片失敗", kRefusedCalls});
    cases.push_back({"LoginSessionFailure", oneCard(kBase | CKR_TOKEN_NOT_RECOGNIZED), -1,
                     kBase | CKR_TOKEN_NOT_RECOGNIZED, "登入卡片失敗", kRefusedCalls});
    {
        Script s = oneCard();
        s.initResult = 0xDA000006u;
        cases.push_back(
            {"ModuleNotLoadable", s, -1, 3657433094u, "初始化函式庫失敗!!!", {"InitLibrary"}});
    }
    {
        Script s = oneCard();
        s.slotListResult = kBase | CKR_DEVICE_ERROR;
        cases.push_back({"SlotListingFails",
                         s,
                         -1,
                         kBase | CKR_DEVICE_ERROR,
                         "取得讀卡機失敗!!!",
                         {"InitLibrary", "GetSlotID"}});
    }
    cases.push_back({"ElevenSlots",
                     withSlots({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {{1, 1}}),
                     -1,
                     3657433424u,
                     "取得讀卡機失敗!!!",
                     {"InitLibrary", "GetSlotID"}});
    cases.push_back(
        {"NoSlots", withSlots({}, {}), -1, 1, "取得讀卡機失敗!!!", {"InitLibrary", "GetSlotID"}});
    cases.push_back(
        {"TenSlotsCardInLast",
         withSlots({10, 11, 12, 13, 14, 15, 16, 17, 18, 19}, {{19, 1}}),
         -1,
         0,
         "",
         {"InitLibrary", "GetSlotID", "IsTokenPresent:10", "IsTokenPresent:11", "IsTokenPresent:12",
          "IsTokenPresent:13", "IsTokenPresent:14", "IsTokenPresent:15", "IsTokenPresent:16",
          "IsTokenPresent:17", "IsTokenPresent:18", "IsTokenPresent:19", "LoginToken:19",
          "LogoutToken", "CloseLibrary"}});
    cases.push_back({"ScanStopsAtFirstCard",
                     withSlots({3, 4, 5}, {{4, 1}, {5, 1}}),
                     -1,
                     0,
                     "",
                     {"InitLibrary", "GetSlotID", "IsTokenPresent:3", "IsTokenPresent:4",
                      "LoginToken:4", "LogoutToken", "CloseLibrary"}});
    cases.push_back({"ScanFindsNoCard",
                     withSlots({3, 4}, {}),
                     -1,
                     1,
                     "卡片未插入",
                     {"InitLibrary", "GetSlotID", "IsTokenPresent:3", "IsTokenPresent:4"}});
    cases.push_back({"PresenceErrorCountsAsCard",
                     withSlots({3, 4}, {{3, kBase | CKR_SLOT_ID_INVALID}}),
                     -1,
                     0,
                     "",
                     {"InitLibrary", "GetSlotID", "IsTokenPresent:3", "LoginToken:3", "LogoutToken",
                      "CloseLibrary"}});
    cases.push_back({"RequestedSlotEmptyOthersNotAsked",
                     withSlots({3, 4}, {{4, 1}}),
                     0,
                     1,
                     "卡片未插入",
                     {"InitLibrary", "GetSlotID", "IsTokenPresent:3"}});
    cases.push_back({"RequestedSecondSlot",
                     withSlots({3, 4, 5}, {{3, 1}, {4, 1}}),
                     1,
                     0,
                     "",
                     {"InitLibrary", "GetSlotID", "IsTokenPresent:4", "LoginToken:4", "LogoutToken",
                      "CloseLibrary"}});
    cases.push_back({"RequestedPositionPastList",
                     withSlots({3, 4}, {{3, 1}, {4, 1}}),
                     2,
                     1,
                     "取得讀卡機失敗!!!",
                     {"InitLibrary", "GetSlotID"}});
    cases.push_back({"RequestedNegativePosition",
                     withSlots({3, 4}, {{3, 1}}),
                     -2,
                     1,
                     "取得讀卡機失敗!!!",
                     {"InitLibrary", "GetSlotID"}});
    cases.push_back({"RequestedHugePosition",
                     withSlots({3}, {{3, 1}}),
                     2147483647,
                     1,
                     "取得讀卡機失敗!!!",
                     {"InitLibrary", "GetSlotID"}});
    {
        // The second logout, after the reply's code is fixed, succeeds and frees the module.
        Script s = oneCard();
        s.logoutResults = {kBase | CKR_DEVICE_ERROR};
        cases.push_back({"LogoutRefusedOnce",
                         s,
                         -1,
                         kBase | CKR_DEVICE_ERROR,
                         "登出錯誤",
                         {"InitLibrary", "GetSlotID", "IsTokenPresent:7", "LoginToken:7",
                          "LogoutToken", "LogoutToken", "CloseLibrary"}});
    }
    {
        // Still logged in after two refusals: the module is not finalised under the session, and
        // the reply keeps the first refusal.
        Script s = oneCard();
        s.logoutResults = {kBase | CKR_DEVICE_ERROR, kBase | CKR_FUNCTION_FAILED};
        cases.push_back({"LogoutRefusedTwice",
                         s,
                         -1,
                         kBase | CKR_DEVICE_ERROR,
                         "登出錯誤",
                         {"InitLibrary", "GetSlotID", "IsTokenPresent:7", "LoginToken:7",
                          "LogoutToken", "LogoutToken"}});
    }
    return cases;
}

// Names the case instead of dumping its bytes in test listings.
void PrintTo(const SessionCase& c, std::ostream* os) {
    *os << c.name;
}

class SessionOutcome : public ::testing::TestWithParam<SessionCase> {};

TEST_P(SessionOutcome, GivesCodeMessageAndCalls) {
    const SessionCase& c = GetParam();
    faketoken::reset(c.script);
    pincheck::TamrinCA session;
    session.setRequestedSlot(c.requestedSlot);
    const std::string message = session.checkPin("1234");
    EXPECT_EQ(session.resultCode(), c.code);
    EXPECT_EQ(pincheck::toUtf8(message.c_str()), c.messageUtf8);
    EXPECT_EQ(callsWithSlots(), c.calls);
    EXPECT_EQ(faketoken::record().moduleName, "ZarqoPKCS11.so");
    if (faketoken::countOf("GetSlotID") == 1) {
        EXPECT_EQ(faketoken::record().slotCapacity, 10u);
    }
    if (faketoken::countOf("LoginToken") == 1) {
        EXPECT_EQ(faketoken::record().pin, "1234");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SessionOutcome, ::testing::ValuesIn(sessionCases()),
                         [](const ::testing::TestParamInfo<SessionCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SessionPin, IsPassedWholeWhateverItsLength) {
    const std::vector<std::string> pins = {"",
                                           "1",
                                           std::string(19, '7'),
                                           std::string(20, '8'),
                                           std::string(300, '9'),
                                           "\xB1\x4B\xBD\x58"};
    for (const std::string& pin : pins) {
        faketoken::reset(oneCard());
        pincheck::TamrinCA session;
        session.checkPin(pin);
        EXPECT_EQ(faketoken::record().pin, pin) << "PIN of " << pin.size() << " bytes";
    }
}

}  // namespace
