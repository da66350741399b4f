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
    std::uint32_t code;
    const char* messageUtf8;
    std::vector<std::string> calls;  // name, or name:slot for IsTokenPresent and LoginToken
    std::int32_t requestedSlot = -1;
};

Script withSlots(std::vector<CK_SLOT_ID> slots,
                 std::vector<std::pair<CK_SLOT_ID, TokenResult>> presence) {
    Script s;
    s.slots = std::move(slots);
    s.presence = std::move(presence);
    return s;
}

Script oneCard(CK_ULONG loginResult = 0, CK_ULONG deviceError = 0) {
    Script s = withSlots({7}, {{7, 1}});
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

// The script with one of its answers changed.
template <typename T, typename V>
Script with(Script s, T Script::*answer, V value) {
    s.*answer = value;
    return s;
}

// The calls of a check that asks the slots `asked` for a card, then makes the calls `tail`.
std::vector<std::string> asking(std::vector<CK_SLOT_ID> asked, std::vector<std::string> tail) {
    std::vector<std::string> out = {"InitLibrary", "GetSlotID"};
    for (CK_SLOT_ID slot : asked) out.push_back("IsTokenPresent:" + std::to_string(slot));
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// ... and logs in on the last slot asked, then out when `loggedIn`.
std::vector<std::string> loginAfter(std::vector<CK_SLOT_ID> asked, bool loggedIn = true) {
    const std::string login = "LoginToken:" + std::to_string(asked.back());
    return asking(asked, loggedIn ? std::vector<std::string>{login, "LogoutToken", "CloseLibrary"}
                                  : std::vector<std::string>{login, "CloseLibrary"});
}

const std::vector<std::string> kAcceptedCalls = loginAfter({7});
const std::vector<std::string> kRefusedCalls = loginAfter({7}, false);
const std::vector<std::string> kInitOnly = {"InitLibrary"};
const std::vector<std::string> kListingOnly = {"InitLibrary", "GetSlotID"};

std::vector<SessionCase> sessionCases() {
    const TokenResult wrongPin = CKR_PIN_INCORRECT | kBase;
    const std::uint32_t wrongPinCode = 3657433248u;
    return {
        {"PinAccepted", oneCard(), 0, "", kAcceptedCalls},
        {"WrongPinTwoTriesLeft", oneCard(wrongPin, 0x63C2), wrongPinCode, "第一次密碼輸入錯誤",
         kRefusedCalls},
        {"WrongPinOneTryLeft", oneCard(wrongPin, 0x63C1), wrongPinCode, "第二次密碼輸入錯誤",
         kRefusedCalls},
        {"WrongPinNoTryLeft", oneCard(wrongPin, 0x63C0), wrongPinCode, "PIN碼錯誤", kRefusedCalls},
        {"WrongPinOtherWord", oneCard(wrongPin, 0x9000), wrongPinCode, "PIN碼錯誤", kRefusedCalls},
        // The session presets the word to 0, which is no retry status.
        {"WrongPinWordUnwritten", with(oneCard(wrongPin), &Script::writeDeviceError, false),
         wrongPinCode, "PIN碼錯誤", kRefusedCalls},
        {"WrongPinFlagsWithoutPinState", wrongPinWithFlags(CKF_LOGIN_REQUIRED), wrongPinCode,
         "PIN碼錯誤", kRefusedCalls},
        {"WrongPinFlagsFinalTry",
         wrongPinWithFlags(CKF_USER_PIN_COUNT_LOW | CKF_USER_PIN_FINAL_TRY), wrongPinCode,
         "第二次密碼輸入錯誤", kRefusedCalls},
        {"WrongPinFlagsLocked", wrongPinWithFlags(CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED),
         wrongPinCode, "登入卡片失敗", kRefusedCalls},
        {"WrongPinFlagsCountLowOnly", wrongPinWithFlags(CKF_USER_PIN_COUNT_LOW), wrongPinCode,
         "PIN碼錯誤", kRefusedCalls},
        // The card's own count decides whenever the module passes it on, 0x63C0 included.
        {"TriesLeftWordOutranksFlags",
         wrongPinWithFlags(CKF_USER_PIN_FINAL_TRY | CKF_USER_PIN_LOCKED, 0x63C0), wrongPinCode,
         "PIN碼錯誤", kRefusedCalls},
        {"PinLengthRefused", oneCard(CKR_PIN_LEN_RANGE | kBase, 0x63C2), 3657433250u,
         "密碼長度不足", kRefusedCalls},
        {"RetryWordIgnoredForOtherRefusals", oneCard(CKR_PIN_LOCKED | kBase, 0x63C2), 3657433252u,
         "登入卡片失敗", kRefusedCalls},
        {"LoginSessionFailure", oneCard(kBase | CKR_TOKEN_NOT_RECOGNIZED),
         kBase | CKR_TOKEN_NOT_RECOGNIZED, "登入卡片失敗", kRefusedCalls},
        {"ModuleNotLoadable", with(oneCard(), &Script::initResult, 0xDA000006u), 3657433094u,
         "初始化函式庫失敗!!!", kInitOnly},
        {"SlotListingFails", with(oneCard(), &Script::slotListResult, kBase | CKR_DEVICE_ERROR),
         kBase | CKR_DEVICE_ERROR, "取得讀卡機失敗!!!", kListingOnly},
        {"ElevenSlots", withSlots({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, {{1, 1}}), 3657433424u,
         "取得讀卡機失敗!!!", kListingOnly},
        {"NoSlots", withSlots({}, {}), 1, "取得讀卡機失敗!!!", kListingOnly},
        {"TenSlotsCardInLast", withSlots({10, 11, 12, 13, 14, 15, 16, 17, 18, 19}, {{19, 1}}), 0,
         "", loginAfter({10, 11, 12, 13, 14, 15, 16, 17, 18, 19})},
        {"ScanStopsAtFirstCard", withSlots({3, 4, 5}, {{4, 1}, {5, 1}}), 0, "", loginAfter({3, 4})},
        {"ScanFindsNoCard", withSlots({3, 4}, {}), 1, "卡片未插入", asking({3, 4}, {})},
        {"PresenceErrorCountsAsCard", withSlots({3, 4}, {{3, kBase | CKR_SLOT_ID_INVALID}}), 0, "",
         loginAfter({3})},
        {"RequestedSlotEmptyOthersNotAsked", withSlots({3, 4}, {{4, 1}}), 1, "卡片未插入",
         asking({3}, {}), 0},
        {"RequestedSecondSlot", withSlots({3, 4, 5}, {{3, 1}, {4, 1}}), 0, "", loginAfter({4}), 1},
        {"RequestedPositionPastList", withSlots({3, 4}, {{3, 1}, {4, 1}}), 1, "取得讀卡機失敗!!!",
         kListingOnly, 2},
        {"RequestedNegativePosition", withSlots({3, 4}, {{3, 1}}), 1, "取得讀卡機失敗!!!",
         kListingOnly, -2},
        {"RequestedHugePosition", withSlots({3}, {{3, 1}}), 1, "取得讀卡機失敗!!!", kListingOnly,
         2147483647},
        // The second logout, after the reply's code is fixed, succeeds and frees the module.
        {"LogoutRefusedOnce",
         with(oneCard(), &Script::logoutResults,
              std::vector<TokenResult>{kBase | CKR_DEVICE_ERROR}),
         kBase | CKR_DEVICE_ERROR, "登出錯誤",
         asking({7}, {"LoginToken:7", "LogoutToken", "LogoutToken", "CloseLibrary"})},
        // Still logged in after two refusals: the module is not finalised under the session, and
        // the reply keeps the first refusal.
        {"LogoutRefusedTwice",
         with(oneCard(), &Script::logoutResults,
              std::vector<TokenResult>{kBase | CKR_DEVICE_ERROR, kBase | CKR_FUNCTION_FAILED}),
         kBase | CKR_DEVICE_ERROR, "登出錯誤",
         asking({7}, {"LoginToken:7", "LogoutToken", "LogoutToken"})},
    };
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
    EXPECT_EQ(faketoken::record().calls, c.calls);
    EXPECT_EQ(faketoken::record().moduleName, "ZarqoPKCS11.so");
    if (faketoken::countOf("GetSlotID") == 1) {
        EXPECT_EQ(faketoken::record().slotCapacity, 10u);
    }
    if (faketoken::countOf("LoginToken") == 1) {
        EXPECT_EQ(faketoken::record().pin, "1234");
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SessionOutcome, ::testing::ValuesIn(sessionCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SessionPin, IsPassedWholeWhateverItsLength) {
    for (const std::string& pin :
         {std::string(), std::string("1"), std::string(19, '7'), std::string(20, '8'),
          std::string(300, '9'), std::string("\xB1\x4B\xBD\x58")}) {
        faketoken::reset(oneCard());
        pincheck::TamrinCA session;
        session.checkPin(pin);
        EXPECT_EQ(faketoken::record().pin, pin) << "PIN of " << pin.size() << " bytes";
    }
}

}  // namespace
