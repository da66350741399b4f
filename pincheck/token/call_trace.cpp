#include "call_trace.h"

#include <cstdio>

namespace token {

namespace {

struct CkrName {
    CK_RV value;
    const char* name;
};

#define CKR_ENTRY(name) \
    { name, #name }
// The answers the standard names; a module's own answers are vendor defined.
const CkrName kCkrNames[] = {
    CKR_ENTRY(CKR_ACTION_PROHIBITED),
    CKR_ENTRY(CKR_ARGUMENTS_BAD),
    CKR_ENTRY(CKR_ATTRIBUTE_READ_ONLY),
    CKR_ENTRY(CKR_ATTRIBUTE_SENSITIVE),
    CKR_ENTRY(CKR_ATTRIBUTE_TYPE_INVALID),
    CKR_ENTRY(CKR_ATTRIBUTE_VALUE_INVALID),
    CKR_ENTRY(CKR_BUFFER_TOO_SMALL),
    CKR_ENTRY(CKR_CANCEL),
    CKR_ENTRY(CKR_CANT_LOCK),
    CKR_ENTRY(CKR_CRYPTOKI_ALREADY_INITIALIZED),
    CKR_ENTRY(CKR_CRYPTOKI_NOT_INITIALIZED),
    CKR_ENTRY(CKR_CURVE_NOT_SUPPORTED),
    CKR_ENTRY(CKR_DATA_INVALID),
    CKR_ENTRY(CKR_DATA_LEN_RANGE),
    CKR_ENTRY(CKR_DEVICE_ERROR),
    CKR_ENTRY(CKR_DEVICE_MEMORY),
    CKR_ENTRY(CKR_DEVICE_REMOVED),
    CKR_ENTRY(CKR_DOMAIN_PARAMS_INVALID),
    CKR_ENTRY(CKR_ENCRYPTED_DATA_INVALID),
    CKR_ENTRY(CKR_ENCRYPTED_DATA_LEN_RANGE),
    CKR_ENTRY(CKR_EXCEEDED_MAX_ITERATIONS),
    CKR_ENTRY(CKR_FIPS_SELF_TEST_FAILED),
    CKR_ENTRY(CKR_FUNCTION_CANCELED),
    CKR_ENTRY(CKR_FUNCTION_FAILED),
    CKR_ENTRY(CKR_FUNCTION_NOT_PARALLEL),
    CKR_ENTRY(CKR_FUNCTION_NOT_SUPPORTED),
    CKR_ENTRY(CKR_FUNCTION_REJECTED),
    CKR_ENTRY(CKR_GENERAL_ERROR),
    CKR_ENTRY(CKR_HOST_MEMORY),
    CKR_ENTRY(CKR_INFORMATION_SENSITIVE),
    CKR_ENTRY(CKR_KEY_CHANGED),
    CKR_ENTRY(CKR_KEY_FUNCTION_NOT_PERMITTED),
    CKR_ENTRY(CKR_KEY_HANDLE_INVALID),
    CKR_ENTRY(CKR_KEY_INDIGESTIBLE),
    CKR_ENTRY(CKR_KEY_NEEDED),
    CKR_ENTRY(CKR_KEY_NOT_NEEDED),
    CKR_ENTRY(CKR_KEY_NOT_WRAPPABLE),
    CKR_ENTRY(CKR_KEY_SIZE_RANGE),
    CKR_ENTRY(CKR_KEY_TYPE_INCONSISTENT),
    CKR_ENTRY(CKR_KEY_UNEXTRACTABLE),
    CKR_ENTRY(CKR_LIBRARY_LOAD_FAILED),
    CKR_ENTRY(CKR_MECHANISM_INVALID),
    CKR_ENTRY(CKR_MECHANISM_PARAM_INVALID),
    CKR_ENTRY(CKR_MUTEX_BAD),
    CKR_ENTRY(CKR_MUTEX_NOT_LOCKED),
    CKR_ENTRY(CKR_NEED_TO_CREATE_THREADS),
    CKR_ENTRY(CKR_NEW_PIN_MODE),
    CKR_ENTRY(CKR_NEXT_OTP),
    CKR_ENTRY(CKR_NO_EVENT),
    CKR_ENTRY(CKR_OBJECT_HANDLE_INVALID),
    CKR_ENTRY(CKR_OK),
    CKR_ENTRY(CKR_OPERATION_ACTIVE),
    CKR_ENTRY(CKR_OPERATION_NOT_INITIALIZED),
    CKR_ENTRY(CKR_PIN_EXPIRED),
    CKR_ENTRY(CKR_PIN_INCORRECT),
    CKR_ENTRY(CKR_PIN_INVALID),
    CKR_ENTRY(CKR_PIN_LEN_RANGE),
    CKR_ENTRY(CKR_PIN_LOCKED),
    CKR_ENTRY(CKR_PIN_TOO_WEAK),
    CKR_ENTRY(CKR_PUBLIC_KEY_INVALID),
    CKR_ENTRY(CKR_RANDOM_NO_RNG),
    CKR_ENTRY(CKR_RANDOM_SEED_NOT_SUPPORTED),
    CKR_ENTRY(CKR_SAVED_STATE_INVALID),
    CKR_ENTRY(CKR_SESSION_CLOSED),
    CKR_ENTRY(CKR_SESSION_COUNT),
    CKR_ENTRY(CKR_SESSION_EXISTS),
    CKR_ENTRY(CKR_SESSION_HANDLE_INVALID),
    CKR_ENTRY(CKR_SESSION_PARALLEL_NOT_SUPPORTED),
    CKR_ENTRY(CKR_SESSION_READ_ONLY),
    CKR_ENTRY(CKR_SESSION_READ_ONLY_EXISTS),
    CKR_ENTRY(CKR_SESSION_READ_WRITE_SO_EXISTS),
    CKR_ENTRY(CKR_SIGNATURE_INVALID),
    CKR_ENTRY(CKR_SIGNATURE_LEN_RANGE),
    CKR_ENTRY(CKR_SLOT_ID_INVALID),
    CKR_ENTRY(CKR_STATE_UNSAVEABLE),
    CKR_ENTRY(CKR_TEMPLATE_INCOMPLETE),
    CKR_ENTRY(CKR_TEMPLATE_INCONSISTENT),
    CKR_ENTRY(CKR_TOKEN_NOT_PRESENT),
    CKR_ENTRY(CKR_TOKEN_NOT_RECOGNIZED),
    CKR_ENTRY(CKR_TOKEN_WRITE_PROTECTED),
    CKR_ENTRY(CKR_UNWRAPPING_KEY_SIZE_RANGE),
    CKR_ENTRY(CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT),
    CKR_ENTRY(CKR_USER_ALREADY_LOGGED_IN),
    CKR_ENTRY(CKR_USER_ANOTHER_ALREADY_LOGGED_IN),
    CKR_ENTRY(CKR_USER_NOT_LOGGED_IN),
    CKR_ENTRY(CKR_USER_PIN_NOT_INITIALIZED),
    CKR_ENTRY(CKR_USER_TOO_MANY_TYPES),
    CKR_ENTRY(CKR_USER_TYPE_INVALID),
    CKR_ENTRY(CKR_WRAPPED_KEY_INVALID),
    CKR_ENTRY(CKR_WRAPPED_KEY_LEN_RANGE),
    CKR_ENTRY(CKR_WRAPPING_KEY_HANDLE_INVALID),
    CKR_ENTRY(CKR_WRAPPING_KEY_SIZE_RANGE),
    CKR_ENTRY(CKR_WRAPPING_KEY_TYPE_INCONSISTENT),
};
#undef CKR_ENTRY

void versionMember(cardtrace::Event& event, const char* key, const CK_VERSION& version) {
    event.text(key, std::to_string(version.major) + "." + std::to_string(version.minor));
}

}  // namespace

const char* ckrName(CK_RV rv) {
    for (const CkrName& entry : kCkrNames)
        if (entry.value == rv) return entry.name;
    return rv >= CKR_VENDOR_DEFINED ? "CKR_VENDOR_DEFINED" : "CKR_UNKNOWN";
}

std::string hexWord(CK_ULONG value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lX", static_cast<unsigned long>(value));
    return text;
}

CK_RV ModuleCall::finish(CK_RV rv) {
    if (!cardtrace::on()) return rv;
    const double ms = clock_.ms();
    cardtrace::addWaitMs(ms);
    event_.emplace("p11.call");
    event_->text("function", function_)
        .text("rv", ckrName(rv))
        .unsignedNumber("rv_code", rv)
        .ms("ms", ms);
    return rv;
}

void traceSlotList(cardtrace::Event& event, const CK_SLOT_ID* list, CK_ULONG count) {
    event.unsignedNumber("count", count);
    if (!list) return;
    std::string slots = "[";
    for (CK_ULONG i = 0; i < count; ++i) slots += (i ? "," : "") + std::to_string(list[i]);
    event.json("slots", slots + "]");
}

void traceSlotInfo(cardtrace::Event& event, const CK_SLOT_INFO& info) {
    event.padded("slot_description", info.slotDescription, sizeof info.slotDescription)
        .padded("manufacturer", info.manufacturerID, sizeof info.manufacturerID)
        .unsignedNumber("slot_flags", info.flags)
        .flag("token_present", (info.flags & CKF_TOKEN_PRESENT) != 0);
    versionMember(event, "hardware_version", info.hardwareVersion);
    versionMember(event, "firmware_version", info.firmwareVersion);
}

void traceTokenInfo(cardtrace::Event& event, const CK_TOKEN_INFO& info) {
    event.padded("label", info.label, sizeof info.label)
        .padded("manufacturer", info.manufacturerID, sizeof info.manufacturerID)
        .padded("model", info.model, sizeof info.model)
        .padded("serial_number", info.serialNumber, sizeof info.serialNumber)
        .unsignedNumber("token_flags", info.flags)
        .unsignedNumber("pin_min", info.ulMinPinLen)
        .unsignedNumber("pin_max", info.ulMaxPinLen);
    std::string names;
    const struct {
        CK_FLAGS bit;
        const char* name;
    } kFlags[] = {{CKF_PROTECTED_AUTHENTICATION_PATH, "PROTECTED_AUTHENTICATION_PATH"},
                  {CKF_USER_PIN_COUNT_LOW, "USER_PIN_COUNT_LOW"},
                  {CKF_USER_PIN_FINAL_TRY, "USER_PIN_FINAL_TRY"},
                  {CKF_USER_PIN_LOCKED, "USER_PIN_LOCKED"},
                  {CKF_USER_PIN_TO_BE_CHANGED, "USER_PIN_TO_BE_CHANGED"},
                  {CKF_TOKEN_INITIALIZED, "TOKEN_INITIALIZED"},
                  {CKF_LOGIN_REQUIRED, "LOGIN_REQUIRED"}};
    for (const auto& flag : kFlags)
        if (info.flags & flag.bit) names += (names.empty() ? "" : "|") + std::string(flag.name);
    event.text("token_flag_names", names);
}

void traceLibraryInfo(cardtrace::Event& event, const CK_INFO& info) {
    versionMember(event, "cryptoki_version", info.cryptokiVersion);
    event.padded("manufacturer", info.manufacturerID, sizeof info.manufacturerID)
        .padded("library_description", info.libraryDescription, sizeof info.libraryDescription);
    versionMember(event, "library_version", info.libraryVersion);
}

}  // namespace token
