// The test module's own behaviour that the layer's tests rely on: the PKCS#11 length rules,
// the script (texts, token presence, PIN rules, device error sequence, injected failures) and
// the call log.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <p11-kit/pkcs11.h>

#include <cstring>
#include <string>
#include <vector>

#include "mock_module.h"

using testsupport::MockModule;

namespace {

// Loads the module directly, without the token layer, and unloads it at the end.
class Loaded {
  public:
    explicit Loaded(const std::string& path) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) return;
        auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle_, "C_GetFunctionList"));
        if (get) getRv = get(&f);
    }
    ~Loaded() {
        if (handle_) dlclose(handle_);
    }
    bool ok() const { return handle_ && f && getRv == CKR_OK; }
    CK_RV initialize() { return ok() ? f->C_Initialize(nullptr) : CKR_GENERAL_ERROR; }
    CK_FUNCTION_LIST_PTR f = nullptr;
    CK_RV getRv = CKR_GENERAL_ERROR;

  private:
    void* handle_ = nullptr;
};

}  // namespace

TEST(P11Mock, ExportsOnlyTheFunctionListEntry) {
    MockModule mock("slot 1\n");
    void* h = dlopen(mock.path().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(h, nullptr);
    EXPECT_NE(dlsym(h, "C_GetFunctionList"), nullptr);
    EXPECT_EQ(dlsym(h, "C_Initialize"), nullptr);
    EXPECT_EQ(dlsym(h, "C_Login"), nullptr);
    dlclose(h);
}

TEST(P11Mock, SlotListFollowsTheLengthRules) {
    MockModule mock("slot 3\nslot 7 token=no\nslot 9\n");
    Loaded m(mock.path());
    ASSERT_EQ(m.initialize(), CKR_OK);
    CK_ULONG n = 0;
    EXPECT_EQ(m.f->C_GetSlotList(CK_FALSE, nullptr, &n), CKR_OK);
    EXPECT_EQ(n, 3u);
    CK_SLOT_ID ids[3] = {0, 0, 0};
    n = 2;
    EXPECT_EQ(m.f->C_GetSlotList(CK_FALSE, ids, &n), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(m.f->C_GetSlotList(CK_FALSE, ids, &n), CKR_OK);
    EXPECT_EQ(std::vector<CK_SLOT_ID>(ids, ids + 3), (std::vector<CK_SLOT_ID>{3, 7, 9}));
    n = 3;
    EXPECT_EQ(m.f->C_GetSlotList(CK_TRUE, ids, &n), CKR_OK);
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(ids[1], 9u);
    EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
}

TEST(P11Mock, TextsArePaddedAsScripted) {
    MockModule mock(
        "library description=\"Lib \\\"X\\\"\"\n"
        "slot 1 label=\"ABC\" serial=\"0123456789ABCDEF\" description=\"\" pad=nul\n");
    Loaded m(mock.path());
    ASSERT_EQ(m.initialize(), CKR_OK);
    CK_INFO info;
    ASSERT_EQ(m.f->C_GetInfo(&info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.libraryDescription), 32),
              "Lib \"X\"" + std::string(25, ' '));
    CK_TOKEN_INFO token;
    ASSERT_EQ(m.f->C_GetTokenInfo(1, &token), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(token.label), 32), "ABC" + std::string(29, '\0'));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(token.serialNumber), 16), "0123456789ABCDEF");
    CK_SLOT_INFO slot;
    ASSERT_EQ(m.f->C_GetSlotInfo(1, &slot), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(slot.slotDescription), 64),
              std::string(64, '\0'));
    EXPECT_EQ(m.f->C_GetSlotInfo(2, &slot), CKR_SLOT_ID_INVALID);
    m.f->C_Finalize(nullptr);
}

TEST(P11Mock, LoginAnswersAndDeviceErrorSequence) {
    MockModule mock("pin \"4321\"\npin-length 4 8\ndevice-error 0x63C2 0x63C1\nslot 1\n");
    Loaded m(mock.path());
    ASSERT_EQ(m.initialize(), CKR_OK);
    CK_SESSION_HANDLE s = 0;
    ASSERT_EQ(m.f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
    struct Case {
        const char* pin;
        CK_RV rv;
        CK_ULONG word;
    } cases[] = {
        {"0000", CKR_PIN_INCORRECT, 0x63C2},
        {"123", CKR_PIN_LEN_RANGE, 0x63C1},  // the last word repeats
        {"123456789", CKR_PIN_LEN_RANGE, 0x63C1},
        {"4321", CKR_OK, 0x63C1},
        {"4321", CKR_USER_ALREADY_LOGGED_IN, 0x63C1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pin);
        auto* pin = reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(c.pin));
        EXPECT_EQ(m.f->C_Login(s, CKU_USER, pin, std::strlen(c.pin)), c.rv);
        CK_SESSION_INFO info;
        ASSERT_EQ(m.f->C_GetSessionInfo(s, &info), CKR_OK);
        EXPECT_EQ(info.ulDeviceError, c.word);
    }
    EXPECT_EQ(m.f->C_Logout(s), CKR_OK);
    EXPECT_EQ(m.f->C_Logout(s), CKR_USER_NOT_LOGGED_IN);
    EXPECT_EQ(m.f->C_CloseSession(s), CKR_OK);
    EXPECT_EQ(m.f->C_CloseSession(s), CKR_SESSION_HANDLE_INVALID);
    m.f->C_Finalize(nullptr);
    EXPECT_EQ(mock.count("C_Login"), 5);
    EXPECT_NE(mock.calls().at(3).find("C_Login session=1 user=1 length=4 pin=0000 -> 0xA0"),
              std::string::npos);
}

TEST(P11Mock, InjectedFailuresHitEveryOrTheNthCall) {
    MockModule mock("slot 1\nslot 2 token=no\nfail C_OpenSession 0x30 nth=2\nfail C_Logout 0x6\n");
    Loaded m(mock.path());
    ASSERT_EQ(m.initialize(), CKR_OK);
    CK_SESSION_HANDLE s = 0;
    EXPECT_EQ(m.f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_OK);
    EXPECT_EQ(m.f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &s), CKR_DEVICE_ERROR);
    EXPECT_EQ(m.f->C_OpenSession(2, CKF_SERIAL_SESSION, nullptr, nullptr, &s),
              CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(m.f->C_Logout(s), CKR_FUNCTION_FAILED);
    EXPECT_EQ(m.f->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_OK);
    EXPECT_EQ(m.f->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST(P11Mock, BadScriptFailsInitialize) {
    const char* scripts[] = {
        "slot x\n",
        "slot 1 label=\"123456789012345678901234567890123\"\n",  // 33 > 32
        "slot 1 token=maybe\n",
        "frobnicate\n",
        "fail C_Login\n",
        "slot 1 label=\"unterminated\n",
        "slot 1\nslot 1\n",
        "slot 1\ntoken-flags count-low+sometimes\n",
        "slot 1 pinpad=maybe\n",
    };
    for (const char* script : scripts) {
        SCOPED_TRACE(script);
        MockModule mock(script);
        Loaded m(mock.path());
        ASSERT_TRUE(m.ok());
        EXPECT_EQ(m.f->C_Initialize(nullptr), CKR_GENERAL_ERROR);
        EXPECT_NE(mock.calls().at(0).find("script error"), std::string::npos);
    }
}
