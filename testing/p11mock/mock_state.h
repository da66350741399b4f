// The scriptable PKCS#11 test module: its state, the script it is told, and the call log.
// Shared by the module's files (module.cpp, sessions.cpp, objects.cpp); tests never include it,
// they talk to the module through its script file and read its log (see README.md).
#pragma once

#include <p11-kit/pkcs11.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

namespace p11mock {

// Fixed-width text fields of the module's records.
constexpr std::size_t kLibraryTextWidth = 32;
constexpr std::size_t kSlotTextWidth = 64;
constexpr std::size_t kTokenTextWidth = 32;
constexpr std::size_t kSerialWidth = 16;

// One line of the script after tokenizing: the command word, the bare words after it, and the
// name=value pairs. Values are decoded (quotes removed, \\ and \" resolved).
struct ScriptLine {
    int lineNumber = 0;
    std::string command;
    std::vector<std::string> words;
    std::map<std::string, std::string> named;

    bool has(const std::string& name) const { return named.count(name) != 0; }
    // Each reads option `name` into `field` when the line has it, and answers why its value is
    // refused, or an empty text.
    std::string text(const char* name, std::size_t width, std::string& field) const;
    std::string number(const char* name, CK_ULONG& field) const;
    std::string hex(const char* name, std::string& field) const;
    // `field` becomes whether the value is `yes`; anything but `yes` or `no` is refused.
    std::string choice(const char* name, const char* yes, const char* no, bool& field) const;
};

// The first of the answers above that refuses, or an empty text.
std::string firstRefusal(std::initializer_list<std::string> whys);

struct TokenState {
    std::string label = "p11mock token";      // padded to kTokenTextWidth when reported
    std::string serial = "0000000000000001";  // padded to kSerialWidth
    std::string pin = "1234";
    // The right PIN in hex instead ("pin-hex"), compared byte by byte as it is decoded, so that
    // a memory scan of the caller finds no copy of the PIN that the module keeps.
    std::string pinHex;
    CK_ULONG pinMin = 4;
    CK_ULONG pinMax = 16;
    // A reader with its own keypad: the token reports CKF_PROTECTED_AUTHENTICATION_PATH, and a
    // login with a null PIN stands for the right PIN typed on the keypad.
    bool pinPad = false;
    bool loggedIn = false;
};

struct SlotState {
    CK_SLOT_ID id = 0;
    std::string description;  // padded to kSlotTextWidth
    bool tokenPresent = true;
    bool nulPad = false;  // every text of this slot and its token filled with NULs, not blanks
    TokenState token;
};

struct SessionState {
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
};

// "fail C_X 0xRV [nth=N]": every call of C_X, or only the Nth one (counted from 1 since the
// module was last loaded or finalised), answers RV without doing anything else.
struct FailRule {
    std::string function;
    CK_RV rv = CKR_OK;
    CK_ULONG nth = 0;  // 0: every call
};

struct ModuleState {
    bool initialized = false;
    bool scriptLoaded = false;
    std::string scriptPath;   // the P11MOCK_SCRIPT the state was loaded from
    std::string scriptError;  // a bad script makes C_Initialize fail with CKR_GENERAL_ERROR
    std::string libraryDescription = "p11mock test module";
    bool libraryNulPad = false;
    std::vector<SlotState> slots;
    std::vector<CK_ULONG> deviceErrors;  // reported after the 1st, 2nd, ... login attempt
    CK_ULONG loginAttempts = 0;
    CK_ULONG deviceError = 0;            // what C_GetSessionInfo reports now
    std::vector<CK_FLAGS> pinFlagSteps;  // PIN flags after the 1st, 2nd, ... login attempt
    CK_FLAGS pinFlags = 0;               // added to every token's flags by C_GetTokenInfo now
    CK_ULONG loginDelayMs = 0;  // each C_Login takes this long, as a real card's VERIFY does
    std::vector<FailRule> failRules;
    std::map<std::string, CK_ULONG> callCounts;
    std::map<CK_SESSION_HANDLE, SessionState> sessions;
    CK_SESSION_HANDLE nextSession = 1;
};

ModuleState& state();

// True when P11MOCK_SCRIPT names another script than the loaded one: a new test is starting
// while the module is still loaded from an earlier one (a binding that was never released).
bool scriptChanged();

// Resets the state and reads the script named by P11MOCK_SCRIPT (no variable: one slot, id 1,
// with a token "p11mock token" and the PIN "1234"). Errors are kept in state().scriptError.
void loadScript();

SlotState* findSlot(CK_SLOT_ID id);
// The slot of an open session, or null for an unknown handle.
SlotState* sessionSlot(CK_SESSION_HANDLE session);

// Copies text into a fixed-width field, filling the rest with blanks or NULs. The text was
// checked against the width when the script was read.
void fillText(unsigned char* field, std::size_t width, const std::string& text, bool nulPad);
// Who the module says made it, its slots and tokens.
constexpr const char* kManufacturer = "card programs tests";

// One received call: counts it, applies the fail rules and writes one log line
// ("C_Login session=1 user=1 pin=1234 -> 0xA0") to the file named by P11MOCK_LOG.
class Call {
  public:
    explicit Call(const char* function);
    Call& arg(const char* name, CK_ULONG value);
    Call& arg(const char* name, const void* bytes, CK_ULONG length);  // printable, \xNN escaped
    Call& argPointer(const char* name, const void* pointer);          // "null" or "set"
    // The value a fail rule injects for this call, or CKR_OK.
    CK_RV injected() const { return injected_; }
    // What the call answers before any check of its own: the injected value, else
    // CKR_CRYPTOKI_NOT_INITIALIZED outside C_Initialize..C_Finalize; CKR_OK when it may go on.
    CK_RV refusal() const;
    // The same, then CKR_SESSION_HANDLE_INVALID for a session that is not open.
    CK_RV refusal(CK_SESSION_HANDLE session) const;
    // Logs the call with its answer and returns the answer.
    CK_RV done(CK_RV rv);

    // The line may hold the PIN: wiped, as a module should leave no copy of it behind.
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

  private:
    void key(const char* name);  // " name="
    std::string line_;
    CK_RV injected_ = CKR_OK;
};

// Appends a free text line to the log (script errors, notes of the object part).
void logLine(const std::string& line);

}  // namespace p11mock
