// pincheck when the PKCS#11 module fails: every call of a PIN check is failed in turn (the
// test module answers CKR_DEVICE_ERROR at exactly that call). Each run must print one clean
// reply line with the code the failed step gives, and release the module where the program
// releases it: always, except when the module never got bound or a slot step failed (the
// program then keeps it bound until it ends).
#include <gtest/gtest.h>
#include <json/json.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "measured_run.h"
#include "mock_module.h"

namespace reliability {
namespace {

constexpr const char kScript[] = "slot 1 label=\"card\"\npin \"1234\"\n";
constexpr const char kRequest[] = "{\"CA_Function\":\"check\",\"sPin\":\"1234\",\"slotID\":\"0\"}";
constexpr unsigned long kDeviceError = 0x30;
constexpr unsigned long kBase = 0xDA000000UL;

struct Outcome {
    unsigned long code;
    bool released;  // C_Finalize reached the module
};

// What a failure of each call of the check must give.
const std::map<std::string, Outcome>& expectedOutcomes() {
    static const std::map<std::string, Outcome> table = {
        {"C_GetFunctionList", {kBase | 0x06, false}},  // not loadable: CKR_FUNCTION_FAILED
        {"C_Initialize", {kBase | kDeviceError, false}},
        {"C_GetSlotList", {kBase | kDeviceError, false}},  // kept bound after a slot step
        {"C_GetSlotInfo", {0, true}},  // an error counts as a card present; login decides
        {"C_OpenSession", {kBase | kDeviceError, true}},
        {"C_Login", {kBase | kDeviceError, true}},
        {"C_GetSessionInfo", {0, true}},             // only the retry word is missing
        {"C_Logout", {kBase | kDeviceError, true}},  // second logout succeeds, then release
        {"C_CloseSession", {kBase | kDeviceError, true}},
        {"C_Finalize", {0, true}},  // the release's own result is not reported
    };
    return table;
}

// The reply's code when the run printed one clean reply line of the check; none otherwise.
std::optional<unsigned long> replyCode(const MeasuredResult& r) {
    Json::Value v;
    if (!parseReplyLine(r, v) || v.size() != 3 || v["func"].asString() != "check" ||
        !v["ret_code"].isUInt() || !v["message"].isString())
        return std::nullopt;
    return v["ret_code"].asUInt();
}

MeasuredResult runPincheck(const testsupport::MockModule& module, bool keepsModule) {
    std::vector<std::string> env = {"LD_LIBRARY_PATH=" + module.folder()};
    // The binding the program keeps until its end is not a leak; only then is the check off.
    if (keepsModule) {
        const char* asan = std::getenv("ASAN_OPTIONS");
        env.push_back(std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0");
    }
    return runMeasured(PINCHECK_PATH, {kRequest}, env);
}

TEST(ModuleFaults, EachCallOfAPinCheckFailedInTurn) {
    std::vector<std::string> calls;
    {
        testsupport::MockModule module(kScript);
        ASSERT_EQ(replyCode(runPincheck(module, false)), 0u);
        calls = module.callNames();
    }
    ASSERT_FALSE(calls.empty());

    std::map<std::string, int> seen;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        const std::string& name = calls[i];
        const int nth = ++seen[name];
        SCOPED_TRACE("call " + std::to_string(i + 1) + ": " + name + " #" + std::to_string(nth));
        const auto expected = expectedOutcomes().find(name);
        ASSERT_NE(expected, expectedOutcomes().end()) << "a call the check did not make before";

        testsupport::MockModule module(std::string(kScript) + "fail " + name +
                                       " 0x30 nth=" + std::to_string(nth) + "\n");
        const bool keeps = name == "C_GetSlotList";
        const MeasuredResult r = runPincheck(module, keeps);
        const auto code = replyCode(r);
        ASSERT_TRUE(code.has_value()) << "exit " << r.exitStatus << "\n" << r.out << r.err;
        EXPECT_EQ(*code, expected->second.code) << r.out;
        EXPECT_EQ(module.count("C_Finalize"), expected->second.released ? 1 : 0);
        RecordProperty("failed_calls", static_cast<int>(i + 1));
    }
}

}  // namespace
}  // namespace reliability
