// The layer's binding, slot, token, login and logout exports against the scriptable test module:
// results, what the caller gets back, and which module calls are made in which order.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "context_guard.h"
#include "mock_module.h"
#include "token_api.h"

using testsupport::MockModule;

namespace {

using Names = std::vector<std::string>;

std::string lineOf(const MockModule& mock, const std::string& function, int nth = 1) {
    for (const auto& line : mock.calls())
        if (line.rfind(function + " ", 0) == 0 && --nth == 0) return line;
    return "";
}

bool moduleLoaded(const std::string& path) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

// A context bound to a fresh test module; the context is released before the module's files go.
class BoundLayer : public ::testing::Test {
  protected:
    void bind(const std::string& script) {
        mock_ = std::make_unique<MockModule>(script);
        ASSERT_EQ(InitLibrary(mock_->path().c_str(), &g_), 0u);
    }
    MockModule& mock() { return *mock_; }
    std::unique_ptr<MockModule> mock_;
    ContextGuard g_;
};
class LayerBinding : public BoundLayer {};
class LayerSlots : public BoundLayer {};

// ---- binding and release ----

TEST_F(LayerBinding, MissingModuleFailsAndLeavesTheContextUnbound) {
    ContextGuard g;
    g.ctx.library = reinterpret_cast<void*>(0x1);  // stale words are cleared, not used
    g.ctx.reserved = 77;
    EXPECT_EQ(InitLibrary("/nonexistent/ZarqoPKCS11.so", &g), 0xDA000006u);
    EXPECT_EQ(g.ctx.library, nullptr);
    EXPECT_EQ(g.ctx.reserved, 0u);
    CK_SLOT_ID slots[10];
    CK_ULONG count = 10;
    EXPECT_EQ(GetSlotID(&g, slots, &count), 0xDA000190u);
}

// A binding that fails: a test module with `script`, or else the module named `module`.
struct BindFailure {
    const char* name;
    const char* script;
    const char* module;
    TokenResult result;
};

void PrintTo(const BindFailure& c, std::ostream* os) {
    *os << c.name;
}

const BindFailure kBindFailures[] = {
    {"FunctionListFails", "slot 1\nfail C_GetFunctionList 0x5\n", nullptr, 0xDA000006u},
    {"InitializeFails", "slot 1\nfail C_Initialize 0x30\n", nullptr, 0xDA000030u},
    {"InitializeRefusesBadScript", "slot x\n", nullptr, 0xDA000005u},
    {"LibraryWithoutFunctionListEntry", nullptr, "libm.so.6", 0xDA000006u},
    {"NullNameIsABadArgument", nullptr, nullptr, 0xDA000007u},
};

class LayerBindingFailure : public ::testing::TestWithParam<BindFailure> {};

TEST_P(LayerBindingFailure, MapsToItsCodeAndKeepsNothingBoundOrLoaded) {
    const BindFailure& c = GetParam();
    std::unique_ptr<MockModule> mock;
    if (c.script) mock = std::make_unique<MockModule>(c.script);
    ContextGuard g;
    EXPECT_EQ(InitLibrary(mock ? mock->path().c_str() : c.module, &g), c.result);
    EXPECT_EQ(g.ctx.library, nullptr);
    if (mock) {
        EXPECT_FALSE(moduleLoaded(mock->path()));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, LayerBindingFailure, ::testing::ValuesIn(kBindFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LayerBinding, InitializesWithZeroedArgumentsAndFinalizesWithNull) {
    bind("slot 1\n");
    EXPECT_NE(g_.ctx.library, nullptr);
    EXPECT_EQ(g_.ctx.session, nullptr);
    EXPECT_EQ(CloseLibrary(&g_), 0u);
    EXPECT_EQ(g_.ctx.library, nullptr);
    EXPECT_EQ(mock().callNames(), (Names{"C_GetFunctionList", "C_Initialize", "C_Finalize"}));
    EXPECT_EQ(lineOf(mock(), "C_Initialize"), "C_Initialize args=set -> 0x0");
    EXPECT_EQ(lineOf(mock(), "C_Finalize"), "C_Finalize reserved=null -> 0x0");
}

TEST_F(LayerBinding, SecondInitLibraryCountsAlreadyInitializedAsSuccess) {
    bind("slot 1\n");
    TokenContext first = g_.ctx;
    ASSERT_EQ(InitLibrary(mock().path().c_str(), &g_), 0u);
    EXPECT_NE(g_.ctx.library, nullptr);
    EXPECT_EQ(lineOf(mock(), "C_Initialize", 2), "C_Initialize args=set -> 0x191");
    // The first binding was forgotten, not released; release both so the module unloads.
    EXPECT_EQ(CloseLibrary(&g_), 0u);
    EXPECT_EQ(CloseLibrary(&first), 0xDA000190u);
}

TEST_F(LayerBinding, CloseLibraryReportsFinalizeFailureAndUnbindsAnyway) {
    bind("slot 1\nfail C_Finalize 0x30 nth=1\n");
    ASSERT_EQ(LoginToken(&g_, 1, nullptr, nullptr), 0u);
    EXPECT_EQ(CloseLibrary(&g_), 0xDA000030u);
    EXPECT_EQ(g_.ctx.library, nullptr);
    EXPECT_EQ(g_.ctx.session, nullptr);
    // The module stayed loaded and initialised: a new binding finds it so, and releases it.
    EXPECT_TRUE(moduleLoaded(mock().path()));
    ASSERT_EQ(InitLibrary(mock().path().c_str(), &g_), 0u);
    EXPECT_EQ(lineOf(mock(), "C_Initialize", 2), "C_Initialize args=set -> 0x191");
    EXPECT_EQ(CloseLibrary(&g_), 0u);
    // The failed release left its load behind with nobody to drop it; the test does.
    if (void* leftover = dlopen(mock().path().c_str(), RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(leftover);
        dlclose(leftover);
    }
    EXPECT_FALSE(moduleLoaded(mock().path()));
}

TEST_F(LayerBinding, FinalizeNotInitializedStillUnloads) {
    bind("slot 1\nfail C_Finalize 0x190\n");
    EXPECT_EQ(CloseLibrary(&g_), 0xDA000190u);
    EXPECT_EQ(g_.ctx.library, nullptr);
    EXPECT_FALSE(moduleLoaded(mock().path()));
}

TEST_F(LayerBinding, UnboundContextCallsNothingInTheModule) {
    MockModule mock("slot 1\n");
    TokenContext ctx{};
    char text[80];
    CK_ULONG length = sizeof text;
    CK_SLOT_ID slots[4];
    CK_ULONG count = 4;
    CK_ULONG word = 0;
    EXPECT_EQ(CloseLibrary(&ctx), 0u);
    EXPECT_EQ(GetLibraryDesc(&ctx, text, &length), 0xDA000190u);
    EXPECT_EQ(GetSlotID(&ctx, slots, &count), 0xDA000190u);
    EXPECT_EQ(GetSlotDesc(&ctx, 1, text, &length), 0xDA000190u);
    EXPECT_EQ(IsTokenPresent(&ctx, 1), 0xDA000190u);
    EXPECT_EQ(GetTokenLabel(&ctx, 1, text, &length), 0xDA000190u);
    EXPECT_EQ(GetTokenSerialNumber(&ctx, 1, text, &length), 0xDA000190u);
    EXPECT_EQ(LoginToken(&ctx, 1, "1234", &word), 0xDA000190u);
    EXPECT_EQ(LogoutToken(&ctx), 0xDA000190u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(length, sizeof text);
    EXPECT_TRUE(mock.calls().empty());
}

TEST_F(LayerBinding, MissingContextOrOutputsAreRefusedNotFollowed) {
    MockModule mock("slot 1\nslot 2\n");
    char text[8];
    CK_SLOT_ID slots[4];
    EXPECT_EQ(InitLibrary(mock.path().c_str(), nullptr), 0xDA000007u);
    EXPECT_EQ(CloseLibrary(nullptr), 0u);
    EXPECT_EQ(GetSlotID(nullptr, slots, nullptr), 0xDA000190u);
    EXPECT_EQ(IsTokenPresent(nullptr, 1), 0xDA000190u);
    EXPECT_EQ(LoginToken(nullptr, 1, "1234", nullptr), 0xDA000190u);
    EXPECT_EQ(LogoutToken(nullptr), 0xDA000190u);
    EXPECT_TRUE(mock.calls().empty());

    ContextGuard g;
    ASSERT_EQ(InitLibrary(mock.path().c_str(), &g), 0u);
    EXPECT_EQ(GetSlotID(&g, slots, nullptr), 0xDA000007u);
    CK_ULONG count = 4;
    // No array to fill: treated as room for none.
    EXPECT_EQ(GetSlotID(&g, nullptr, &count), 0xDA000150u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(GetTokenLabel(&g, 1, text, nullptr), 0xDA000007u);
    CK_ULONG length = 100;
    EXPECT_EQ(GetTokenLabel(&g, 1, nullptr, &length), 0xDA000150u);
    EXPECT_EQ(length, 13u);  // "p11mock token"
    // The device error word is optional.
    EXPECT_EQ(LoginToken(&g, 1, "0000", nullptr), 0xDA0000A0u);
}

// ---- slots and texts ----

TEST_F(LayerSlots, ListsEverySlotWithinTheCapacity) {
    bind("slot 4\nslot 9 token=no\nslot 2\n");
    CK_SLOT_ID slots[10] = {};
    CK_ULONG count = 2;
    EXPECT_EQ(GetSlotID(&g_, slots, &count), 0xDA000150u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(slots[0], 0u);
    count = 10;
    EXPECT_EQ(GetSlotID(&g_, slots, &count), 0u);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ((std::vector<CK_SLOT_ID>(slots, slots + 3)), (std::vector<CK_SLOT_ID>{4, 9, 2}));
    // Slots are always listed with tokenPresent FALSE; a too small array stops after the count.
    EXPECT_EQ(lineOf(mock(), "C_GetSlotList", 2),
              "C_GetSlotList tokenPresent=0 list=null count=0 -> 0x0");
    EXPECT_EQ(lineOf(mock(), "C_GetSlotList", 3),
              "C_GetSlotList tokenPresent=0 list=set count=10 -> 0x0");
    EXPECT_EQ(IsTokenPresent(&g_, 4), 1u);
    EXPECT_EQ(IsTokenPresent(&g_, 9), 0u);
    EXPECT_EQ(IsTokenPresent(&g_, 5), 0xDA000003u);
}

TEST_F(LayerSlots, ModuleErrorsComeBackWithTheBase) {
    bind("slot 1\nfail C_GetSlotList 0x32 nth=1\nfail C_GetTokenInfo 0xE0\n");
    CK_SLOT_ID slots[10];
    CK_ULONG count = 10;
    EXPECT_EQ(GetSlotID(&g_, slots, &count), 0xDA000032u);
    EXPECT_EQ(count, 10u);
    char text[40];
    CK_ULONG length = sizeof text;
    EXPECT_EQ(GetTokenLabel(&g_, 1, text, &length), 0xDA0000E0u);
    EXPECT_EQ(GetSlotDesc(&g_, 7, text, &length), 0xDA000003u);
    EXPECT_EQ(length, sizeof text);
}

TEST_F(LayerSlots, NoSlotsAtAll) {
    bind("# no reader\n");
    CK_SLOT_ID slots[10];
    CK_ULONG count = 10;
    EXPECT_EQ(GetSlotID(&g_, slots, &count), 0u);
    EXPECT_EQ(count, 0u);
}

using TextExport = TokenResult (*)(TokenContext*, char*, CK_ULONG*);

// The slot texts of slot 1.
template <TokenResult (*Get)(TokenContext*, CK_SLOT_ID, char*, CK_ULONG*)>
TokenResult ofSlot1(TokenContext* c, char* t, CK_ULONG* l) {
    return Get(c, 1, t, l);
}
constexpr TextExport libraryDesc = GetLibraryDesc, slotDesc = ofSlot1<GetSlotDesc>,
                     tokenLabel = ofSlot1<GetTokenLabel>, serial = ofSlot1<GetTokenSerialNumber>;

TEST(LayerTexts, EachTextFollowsTheCopyRule) {
    struct Case {
        const char* name;
        const char* script;
        TextExport get;
        CK_ULONG size;
        TokenResult result;
        CK_ULONG length;
        std::string text;  // what the buffer holds afterwards (up to the length + NUL)
    } cases[] = {
        {"LabelFits", "slot 1 label=\"ABC\"\n", tokenLabel, 4, 0, 3, std::string("ABC\0", 4)},
        {"LabelTooSmall", "slot 1 label=\"ABC\"\n", tokenLabel, 3, 0xDA000150u, 3, "~~~"},
        {"LabelLearnLength", "slot 1 label=\"ABC\"\n", tokenLabel, 0, 0xDA000150u, 3, "~~~"},
        {"LabelAllBlank", "slot 1 label=\"\"\n", tokenLabel, 40, 0, 40, "~~~"},
        {"LabelAllNul", "slot 1 label=\"\" pad=nul\n", tokenLabel, 40, 0, 40, "~~~"},
        {"LabelNulPadded", "slot 1 label=\"A B\" pad=nul\n", tokenLabel, 40, 0, 3,
         std::string("A B\0", 4)},
        {"SerialFull", "slot 1 serial=\"0123456789ABCDEF\"\n", serial, 17, 0, 16,
         std::string("0123456789ABCDEF\0", 17)},
        {"SerialFullTooSmall", "slot 1 serial=\"0123456789ABCDEF\"\n", serial, 16, 0xDA000150u, 16,
         "~~~"},
        {"SlotDescription", "slot 1 description=\"Reader A 00 00\"\n", slotDesc, 40, 0, 14,
         std::string("Reader A 00 00\0", 15)},
        {"LibraryDescription", "library description=\"Card Module\"\nslot 1\n", libraryDesc, 40, 0,
         11, std::string("Card Module\0", 12)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MockModule mock(c.script);
        ContextGuard g;
        ASSERT_EQ(InitLibrary(mock.path().c_str(), &g), 0u);
        char buffer[80];
        std::memset(buffer, '~', sizeof buffer);
        CK_ULONG length = c.size;
        EXPECT_EQ(c.get(&g, buffer, &length), c.result);
        EXPECT_EQ(length, c.length);
        EXPECT_EQ(std::string(buffer, c.text.size()), c.text);
    }
}

// ---- login and logout ----

// The log starts after the binding.
class LayerLogin : public BoundLayer {
  protected:
    void bind(const std::string& script) {
        BoundLayer::bind(script);
        mock_->clearLog();
    }
};

TEST_F(LayerLogin, RightPinHoldsALoggedInSessionAndDeliversTheWord) {
    bind("slot 3 pin=\"123456\"\ndevice-error 0x9000\n");
    CK_ULONG word = 0xFFFF;
    EXPECT_EQ(LoginToken(&g_, 3, "123456", &word), 0u);
    EXPECT_EQ(word, 0x9000u);
    ASSERT_NE(g_.ctx.session, nullptr);
    EXPECT_EQ(mock().callNames(), (Names{"C_OpenSession", "C_Login", "C_GetSessionInfo"}));
    EXPECT_EQ(lineOf(mock(), "C_OpenSession"),
              "C_OpenSession slot=3 flags=4 application=null notify=null handle=1 -> 0x0");
    EXPECT_EQ(lineOf(mock(), "C_Login"), "C_Login session=1 user=1 length=6 pin=123456 -> 0x0");
    EXPECT_EQ(LogoutToken(&g_), 0u);
    EXPECT_EQ(g_.ctx.session, nullptr);
    EXPECT_EQ(mock().callNames(), (Names{"C_OpenSession", "C_Login", "C_GetSessionInfo", "C_Logout",
                                         "C_CloseSession"}));
}

TEST_F(LayerLogin, WrongPinsDeliverTheTriesLeftAndCloseTheirSession) {
    bind("slot 1\ndevice-error 0x63C2 0x63C1 0x63C0\n");
    const CK_ULONG expected[] = {0x63C2, 0x63C1, 0x63C0};
    for (CK_ULONG want : expected) {
        CK_ULONG word = 0;
        EXPECT_EQ(LoginToken(&g_, 1, "9999", &word), 0xDA0000A0u);
        EXPECT_EQ(word, want);
        EXPECT_EQ(g_.ctx.session, nullptr);
        EXPECT_EQ(LogoutToken(&g_), 0xDA000101u);
    }
    EXPECT_EQ(mock().count("C_OpenSession"), 3);
    EXPECT_EQ(mock().count("C_CloseSession"), 3);
    EXPECT_EQ(mock().count("C_Logout"), 0);
    EXPECT_EQ(mock().callNames(),
              (Names{"C_OpenSession", "C_Login", "C_GetSessionInfo", "C_CloseSession",
                     "C_OpenSession", "C_Login", "C_GetSessionInfo", "C_CloseSession",
                     "C_OpenSession", "C_Login", "C_GetSessionInfo", "C_CloseSession"}));
}

TEST_F(LayerLogin, ExportKeepsItsCallsOnAKeypadTokenWithPinFlags) {
    bind("slot 1 pinpad=yes\ntoken-flags final-try\n");
    CK_ULONG word = 0;
    EXPECT_EQ(LoginToken(&g_, 1, "", &word), 0xDA0000A2u);
    EXPECT_EQ(lineOf(mock(), "C_Login"), "C_Login session=1 user=1 length=0 pin= -> 0xA2");
    EXPECT_EQ(LoginToken(&g_, 1, "0000", &word), 0xDA0000A0u);
    EXPECT_EQ(mock().callNames(),
              (Names{"C_OpenSession", "C_Login", "C_GetSessionInfo", "C_CloseSession",
                     "C_OpenSession", "C_Login", "C_GetSessionInfo", "C_CloseSession"}));
}

TEST_F(LayerLogin, PinLengthsReachTheModuleWholeUpTo255) {
    bind("slot 1 pin-min=0 pin-max=1000\n");
    struct Case {
        std::size_t length;
        TokenResult result;
    } cases[] = {{0, 0xDA0000A0u}, {19, 0xDA0000A0u}, {20, 0xDA0000A0u}, {255, 0xDA0000A0u}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        mock().clearLog();
        const std::string pin(c.length, '7');
        CK_ULONG word = 0;
        EXPECT_EQ(LoginToken(&g_, 1, pin.c_str(), &word), c.result);
        const std::string line = lineOf(mock(), "C_Login");
        EXPECT_NE(
            line.find(" user=1 length=" + std::to_string(c.length) + " pin=" + pin + " -> 0xA0"),
            std::string::npos)
            << line;
    }
}

TEST_F(LayerLogin, OverlongPinIsRefusedBeforeAnyModuleCall) {
    bind("slot 1 pin-min=0 pin-max=1000\n");
    for (std::size_t length : {256u, 257u, 4096u}) {
        SCOPED_TRACE(length);
        const std::string pin(length, '7');
        CK_ULONG word = 0x1234;
        EXPECT_EQ(LoginToken(&g_, 1, pin.c_str(), &word), 0xDA0000A2u);
        EXPECT_EQ(word, 0x1234u);
        EXPECT_EQ(g_.ctx.session, nullptr);
    }
    EXPECT_TRUE(mock().calls().empty());
}

TEST_F(LayerLogin, LengthTheModuleRefusesComesBackWithTheWord) {
    bind("slot 1 pin-min=6 pin-max=8\ndevice-error 0x6700\n");
    CK_ULONG word = 0;
    EXPECT_EQ(LoginToken(&g_, 1, "1234", &word), 0xDA0000A2u);
    EXPECT_EQ(word, 0x6700u);
    EXPECT_EQ(g_.ctx.session, nullptr);
}

TEST_F(LayerLogin, NullPinOpensASessionOnlyAndLogoutOnlyClosesIt) {
    bind("slot 1\n");
    CK_ULONG word = 0x55;
    EXPECT_EQ(LoginToken(&g_, 1, nullptr, &word), 0u);
    EXPECT_EQ(word, 0x55u);
    ASSERT_NE(g_.ctx.session, nullptr);
    EXPECT_EQ(LogoutToken(&g_), 0u);
    EXPECT_EQ(mock().callNames(), (Names{"C_OpenSession", "C_CloseSession"}));
}

TEST_F(LayerLogin, SecondLoginIsRefusedAndLeavesTheFirstSession) {
    bind("slot 1\n");
    CK_ULONG word = 0;
    ASSERT_EQ(LoginToken(&g_, 1, "1234", &word), 0u);
    void* first = g_.ctx.session;
    mock().clearLog();
    EXPECT_EQ(LoginToken(&g_, 1, "1234", &word), 0xDA000100u);
    EXPECT_EQ(g_.ctx.session, first);
    EXPECT_TRUE(mock().calls().empty());
}

TEST_F(LayerLogin, FailedOpenSessionHoldsNoSession) {
    bind("slot 1\nslot 2 token=no\nfail C_OpenSession 0x30 nth=1\n");
    CK_ULONG word = 0;
    EXPECT_EQ(LoginToken(&g_, 1, "1234", &word), 0xDA000030u);
    EXPECT_EQ(g_.ctx.session, nullptr);
    EXPECT_EQ(LoginToken(&g_, 2, "1234", &word), 0xDA0000E0u);
    EXPECT_EQ(g_.ctx.session, nullptr);
    EXPECT_EQ(mock().count("C_Login"), 0);
}

TEST_F(LayerLogin, UnreadableSessionInfoLeavesTheWordAlone) {
    bind("slot 1\ndevice-error 0x63C2\nfail C_GetSessionInfo 0x5\n");
    CK_ULONG word = 0xABCD;
    EXPECT_EQ(LoginToken(&g_, 1, "0000", &word), 0xDA0000A0u);
    EXPECT_EQ(word, 0xABCDu);
    EXPECT_EQ(LoginToken(&g_, 1, "1234", &word), 0u);
    EXPECT_EQ(word, 0xABCDu);
}

TEST_F(LayerLogin, LogoutResumesAfterAFailedStep) {
    struct Case {
        const char* name;
        const char* script;
        TokenResult first;
        Names calls;  // after the login, over both LogoutToken calls
    } cases[] = {
        {"LogoutFails",
         "slot 1\nfail C_Logout 0x30 nth=1\n",
         0xDA000030u,
         {"C_Logout", "C_Logout", "C_CloseSession"}},
        {"CloseFails",
         "slot 1\nfail C_CloseSession 0x30 nth=1\n",
         0xDA000030u,
         {"C_Logout", "C_CloseSession", "C_CloseSession"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MockModule mock(c.script);
        ContextGuard g;
        ASSERT_EQ(InitLibrary(mock.path().c_str(), &g), 0u);
        CK_ULONG word = 0;
        ASSERT_EQ(LoginToken(&g, 1, "1234", &word), 0u);
        mock.clearLog();
        EXPECT_EQ(LogoutToken(&g), c.first);
        EXPECT_NE(g.ctx.session, nullptr);
        EXPECT_EQ(LogoutToken(&g), 0u);
        EXPECT_EQ(g.ctx.session, nullptr);
        EXPECT_EQ(mock.callNames(), c.calls);
    }
}

TEST_F(LayerLogin, CloseLibraryWithoutLogoutForgetsTheSession) {
    bind("slot 1\n");
    CK_ULONG word = 0;
    ASSERT_EQ(LoginToken(&g_, 1, "1234", &word), 0u);
    EXPECT_EQ(CloseLibrary(&g_), 0u);
    EXPECT_EQ(g_.ctx.session, nullptr);
    EXPECT_EQ(mock().callNames(),
              (Names{"C_OpenSession", "C_Login", "C_GetSessionInfo", "C_Finalize"}));
}

}  // namespace
