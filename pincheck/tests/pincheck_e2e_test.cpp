// The pincheck binary end to end: request in, exactly one reply line out, byte for byte, with the
// scriptable test module and with SoftHSM2 under the card module's plain name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mock_module.h"
#include "run_pincheck.h"
#include "softhsm_token.h"
#include "temp_dir.h"

namespace {

using pinchecktest::reply;
using pinchecktest::request;
using pinchecktest::runPincheck;

const std::vector<std::string> kBindAndList = {"C_GetFunctionList", "C_Initialize", "C_GetSlotList",
                                               "C_GetSlotList"};

std::vector<std::string> calls(std::vector<std::string> tail) {
    std::vector<std::string> all = kBindAndList;
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

struct MockCase {
    const char* name;
    std::string script;
    std::string request;
    std::string out;
    std::vector<std::string> calls;   // the module's calls in order; empty: not checked
    std::vector<std::string> logged;  // texts that some log line must hold
    bool moduleStaysBound = false;    // a failed slot step: no C_Finalize before the exit
};

void PrintTo(const MockCase& c, std::ostream* os) {
    *os << c.name;
}

MockCase row(const char* name, std::string script, std::string request, std::string out,
             std::vector<std::string> calls = {}, std::vector<std::string> logged = {},
             bool moduleStaysBound = false) {
    return {name, script, request, out, calls, logged, moduleStaysBound};
}

std::vector<MockCase> mockCases() {
    const std::string longPin(25, '7');
    const std::vector<std::string> refused =
        calls({"C_GetSlotInfo", "C_OpenSession", "C_Login", "C_GetSessionInfo", "C_CloseSession",
               "C_Finalize"});
    // A wrong PIN without a tries-left word: the token flags are asked before the close.
    const std::vector<std::string> refusedAskingFlags =
        calls({"C_GetSlotInfo", "C_OpenSession", "C_Login", "C_GetSessionInfo", "C_GetTokenInfo",
               "C_CloseSession", "C_Finalize"});
    const std::vector<std::string> accepted =
        calls({"C_GetSlotInfo", "C_OpenSession", "C_Login", "C_GetSessionInfo", "C_Logout",
               "C_CloseSession", "C_Finalize"});
    const std::vector<std::string> keypadAccepted =
        calls({"C_GetSlotInfo", "C_GetTokenInfo", "C_OpenSession", "C_Login", "C_GetSessionInfo",
               "C_Logout", "C_CloseSession", "C_Finalize"});
    const std::vector<std::string> keypadRefused =
        calls({"C_GetSlotInfo", "C_GetTokenInfo", "C_OpenSession", "C_Login", "C_GetSessionInfo",
               "C_CloseSession", "C_Finalize"});
    return {
        row("PinAccepted", "slot 1\n", request("1234", "-1"), reply("0", ""), accepted,
            {"C_Login session=1 user=1 length=4 pin=1234 -> 0x0"}),
        row("WrongPinTwoTriesLeft", "slot 1\ndevice-error 0x63C2\n", request("0000", "0"),
            reply("3657433248", "第一次密碼輸入錯誤"), refused),
        row("WrongPinOneTryLeft", "slot 1\ndevice-error 0x63C1\n", request("0000", "0"),
            reply("3657433248", "第二次密碼輸入錯誤"), refused),
        row("WrongPinNoTryLeft", "slot 1\ndevice-error 0x63C0\n", request("0000", "0"),
            reply("3657433248", "PIN碼錯誤"), refused),
        row("WrongPinOtherWord", "slot 1\ndevice-error 0x6982\n", request("0000", "0"),
            reply("3657433248", "PIN碼錯誤"), refusedAskingFlags),
        // Modules that leave the device error word 0 and tell the tries left in the token flags.
        row("WrongPinNoWordNoPinFlag", "slot 1\n", request("0000", "0"),
            reply("3657433248", "PIN碼錯誤"), refusedAskingFlags),
        row("WrongPinNoWordFinalTry", "slot 1\ntoken-flags count-low+final-try\n",
            request("0000", "0"), reply("3657433248", "第二次密碼輸入錯誤"), refusedAskingFlags),
        row("WrongPinNoWordLocked", "slot 1\ntoken-flags locked\n", request("0000", "0"),
            reply("3657433248", "登入卡片失敗"), refusedAskingFlags),
        // SoftHSM2's way: a wrong PIN sets COUNT_LOW and nothing else.
        row("WrongPinNoWordCountLowOnly", "slot 1\ntoken-flags count-low\n", request("0000", "0"),
            reply("3657433248", "PIN碼錯誤"), refusedAskingFlags),
        // A reader with its own keypad: an empty "sPin" lets the keypad take the PIN.
        row("KeypadAccepted", "slot 1 pinpad=yes\n", request("", "0"), reply("0", ""),
            keypadAccepted, {"C_Login session=1 user=1 length=0 pin=null -> 0x0"}),
        row("KeypadCancelled", "slot 1 pinpad=yes\nfail C_Login 0x50\n", request("", "0"),
            reply("3657433168", "登入卡片失敗"), keypadRefused,
            {"C_Login session=1 user=1 length=0 pin=null -> 0x50"}),
        row("PinTypedOnKeypadToken", "slot 1 pinpad=yes\n", request("1234", "0"), reply("0", ""),
            accepted, {"C_Login session=1 user=1 length=4 pin=1234 -> 0x0"}),
        row("PinLengthRefused", "slot 1\ndevice-error 0x63C2\n", request("12", "0"),
            reply("3657433250", "密碼長度不足"), refused),
        row("PinLocked", "slot 1\nfail C_Login 0xA4\n", request("1234", "0"),
            reply("3657433252", "登入卡片失敗"), refused),
        // A code no PKCS#11 version defines comes back like any other refusal.
        row("LoginFailsWithAnUndefinedCode", "slot 1\nfail C_Login 0x1FF\n", request("1234", "0"),
            reply("3657433599", "登入卡片失敗"), refused),
        row("PinLongerThanNineteenPassedWhole", "slot 1 pin=\"" + longPin + "\" pin-max=40\n",
            request(longPin, "0"), reply("0", ""), {}, {"length=25 pin=" + longPin + " -> 0x0"}),
        row("PinCutToNineteenWouldBeWrong", "slot 1 pin=\"" + longPin + "\" pin-max=40\n",
            request(longPin.substr(0, 19), "0"), reply("3657433248", "PIN碼錯誤"),
            refusedAskingFlags),
        row("PinOver255RefusedBeforeTheModule", "slot 1\n", request(std::string(300, '1'), "0"),
            reply("3657433250", "密碼長度不足"), calls({"C_GetSlotInfo", "C_Finalize"})),
        row("EmptyRequestChecksEmptyPinOnFirstSlot", "slot 1\nslot 2\n", "{}",
            reply("", "3657433250", "密碼長度不足"), {},
            {"C_OpenSession slot=1 ", "length=0 pin= -> 0xA2"}),
        // The quote after the backslash ends the name (the parser counts quotes), so the name
        // is a\ and the PIN is lost to the shifted pairing; on Windows the request also has to
        // survive the command line's quoting whole.
        row("FunctionNameWithBackslashAndQuote", "slot 1\n", request("1234", "0", "a\\\"b"),
            reply("a\\\\", "3657433250", "密碼長度不足"), {}, {"length=0"}),
        row("UnknownFunctionEchoed", "slot 1\n", request("1234", "0", "foo"),
            reply("foo", "0", "")),
        row("FunctionNameWithBackslashAndControlBytesStaysOneJsonLine", "slot 1\n",
            request("1234", "0", "a\\b\tc\nd\x01"), reply("a\\\\b\\tc\\nd\\u0001", "0", "")),
        row("NoCardInAnySlot", "slot 1 token=no\nslot 2 token=no\n", request("1234", "-1"),
            reply("1", "卡片未插入"), calls({"C_GetSlotInfo", "C_GetSlotInfo"}), {}, true),
        row("NoSlots", "", request("1234", "-1"), reply("1", "取得讀卡機失敗!!!"), kBindAndList, {},
            true),
        row("ElevenSlots",
            "slot 1\nslot 2\nslot 3\nslot 4\nslot 5\nslot 6\nslot 7\nslot 8\nslot 9\nslot 10\nslot "
            "11\n",
            request("1234", "-1"), reply("3657433424", "取得讀卡機失敗!!!"),
            {"C_GetFunctionList", "C_Initialize", "C_GetSlotList"}, {}, true),
        row("ModuleRefusesInitialize", "slot 1\nfail C_Initialize 0x5\n", request("1234", "-1"),
            reply("3657433093", "初始化函式庫失敗!!!"), {"C_GetFunctionList", "C_Initialize"}),
        row("ScanTakesFirstCard", "slot 3 token=no\nslot 4\nslot 5\n", request("1234", "-1"),
            reply("0", ""), {},
            {"C_GetSlotInfo slot=3", "C_GetSlotInfo slot=4", "C_OpenSession slot=4"}),
        row("RequestedPositionPicksThatSlot", "slot 3\nslot 4\n", request("1234", "1"),
            reply("0", ""), accepted, {"C_GetSlotInfo slot=4", "C_OpenSession slot=4"}),
        row("RequestedSlotEmptyOthersNotLookedAt", "slot 3 token=no\nslot 4\n",
            request("1234", "0"), reply("1", "卡片未插入"), calls({"C_GetSlotInfo"}), {}, true),
        row("RequestedPositionPastTheList", "slot 3\nslot 4\n", request("1234", "2"),
            reply("1", "取得讀卡機失敗!!!"), kBindAndList, {}, true),
        row("SlotTextReadLikeAtoi", "slot 3\nslot 4 token=no\n", request("1234", " 1x"),
            reply("1", "卡片未插入"), calls({"C_GetSlotInfo"}), {"C_GetSlotInfo slot=4"}, true),
        row("SlotTextWithoutDigitsIsFirstSlot", "slot 3\nslot 4 token=no\n", request("1234", "abc"),
            reply("0", ""), {}, {"C_OpenSession slot=3"}),
        row("LogoutRefusedThenRetried", "slot 1\nfail C_Logout 0x30 nth=1\n", request("1234", "0"),
            reply("3657433136", "登出錯誤"),
            calls({"C_GetSlotInfo", "C_OpenSession", "C_Login", "C_GetSessionInfo", "C_Logout",
                   "C_Logout", "C_CloseSession", "C_Finalize"})),
    };
}

class PincheckWithMockModule : public ::testing::TestWithParam<MockCase> {};

TEST_P(PincheckWithMockModule, RepliesOneExactLine) {
    const MockCase& c = GetParam();
    testsupport::MockModule module(c.script);
    const auto result = runPincheck({c.request}, module.folder(), c.moduleStaysBound);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    if (!c.calls.empty()) {
        EXPECT_EQ(module.callNames(), c.calls);
    }
    const auto lines = module.calls();
    for (const std::string& text : c.logged) {
        bool found = false;
        for (const auto& line : lines) found = found || line.find(text) != std::string::npos;
        EXPECT_TRUE(found) << "no call logged with \"" << text << "\"";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, PincheckWithMockModule, ::testing::ValuesIn(mockCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PincheckEntry, MissingArgumentGivesFailureReplyOnStandardError) {
    testsupport::MockModule module("slot 1\n");
    const auto result = runPincheck({}, module.folder());
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(
        result.err,
        "{\"func\":\"\",\"ret_code\":9988,\"message\":\"\xB8\xEA\xAE\xC6\xBF\xF9\xBB\x7E\"}\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(module.calls().empty());
}

TEST(PincheckEntry, ModuleMissingGivesInitFailure) {
    testsupport::TempDir empty;
    const auto result = runPincheck({request("1234", "-1")}, empty.path());
    EXPECT_EQ(result.out, reply("3657433094", "初始化函式庫失敗!!!"));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

TEST(PincheckEntry, FurtherArgumentsAreIgnored) {
    testsupport::MockModule module("slot 1\n");
    const auto result =
        runPincheck({request("1234", "0"), request("0000", "0"), "x"}, module.folder());
    EXPECT_EQ(result.out, reply("0", ""));
    EXPECT_EQ(module.count("C_Login"), 1);
}

struct SoftHsmCase {
    const char* name;
    std::string request;
    std::string out;
    bool moduleStaysBound = false;
};

void PrintTo(const SoftHsmCase& c, std::ostream* os) {
    *os << c.name;
}

const SoftHsmCase kSoftHsmCases[] = {
    {"PinAccepted", request("123456", "-1"), reply("0", "")},
    {"PinAcceptedInFirstSlot", request("123456", "0"), reply("0", "")},
    // SoftHSM reports 0 as the device error word: the plain message.
    {"WrongPin", request("654321", "-1"), reply("3657433248", "PIN碼錯誤")},
    {"PinOver255Refused", request(std::string(256, '1'), "-1"),
     reply("3657433250", "密碼長度不足")},
    // The extra slot's token is present but uninitialised: the session cannot be opened.
    {"UninitialisedTokenRefusesLogin", request("123456", "1"), reply("3657433313", "登入卡片失敗")},
    {"PositionPastTheSlots", request("123456", "2"), reply("1", "取得讀卡機失敗!!!"), true},
};

class PincheckWithSoftHsm : public ::testing::TestWithParam<SoftHsmCase> {};

TEST_P(PincheckWithSoftHsm, RepliesOneExactLine) {
    const SoftHsmCase& c = GetParam();
    testsupport::SoftHsmToken token("pincheck", "123456", "87654321");
    const auto result = runPincheck({c.request}, token.moduleFolder(), c.moduleStaysBound);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
}

INSTANTIATE_TEST_SUITE_P(Table, PincheckWithSoftHsm, ::testing::ValuesIn(kSoftHsmCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
