// Compiled by every Windows build, for x86 and x64: the layouts that the card's PKCS#11 module
// and the smart-card service share with the programs must be the ones their Windows builds use.
// The x86 build cannot run here, so these checks are its only look at the records it passes.
// Cryptoki on Windows packs its records to one byte and has a 32-bit CK_ULONG; the card dialog's
// record is naturally aligned (92 bytes on x86).
#include <p11-kit/pkcs11.h>
#include <windows.h>
#include <winscard.h>

#include <cstddef>

namespace {

constexpr bool kX86 = sizeof(void*) == 4;
constexpr std::size_t kPointer = sizeof(void*);

// Cryptoki: 32-bit words, no padding anywhere.
static_assert(sizeof(CK_ULONG) == 4, "CK_ULONG is 32 bits on Windows");
static_assert(sizeof(CK_SLOT_ID) == 4 && sizeof(CK_RV) == 4, "handles and codes are 32 bits");
static_assert(sizeof(CK_VERSION) == 2, "CK_VERSION");
static_assert(sizeof(CK_INFO) == 2 + 32 + 4 + 32 + 2, "CK_INFO is packed");
static_assert(sizeof(CK_SLOT_INFO) == 64 + 32 + 4 + 2 + 2, "CK_SLOT_INFO is packed");
static_assert(sizeof(CK_TOKEN_INFO) == 160, "CK_TOKEN_INFO is packed");
static_assert(offsetof(CK_TOKEN_INFO, flags) == 96, "CK_TOKEN_INFO.flags after the texts");
static_assert(offsetof(CK_TOKEN_INFO, ulMaxPinLen) == 116, "CK_TOKEN_INFO PIN length range");
static_assert(sizeof(CK_SESSION_INFO) == 16, "CK_SESSION_INFO");
static_assert(offsetof(CK_SESSION_INFO, ulDeviceError) == 12, "the device error word");
static_assert(sizeof(CK_ATTRIBUTE) == 4 + kPointer + 4, "CK_ATTRIBUTE is packed");
static_assert(offsetof(CK_ATTRIBUTE, ulValueLen) == 4 + kPointer, "CK_ATTRIBUTE length word");
static_assert(sizeof(CK_MECHANISM) == 4 + kPointer + 4, "CK_MECHANISM is packed");
// The function list: the version, then 68 entries with no gap after the version.
static_assert(sizeof(CK_FUNCTION_LIST) == 2 + 68 * kPointer, "CK_FUNCTION_LIST is packed");
static_assert(offsetof(CK_FUNCTION_LIST, C_Login) == 2 + 18 * kPointer, "C_Login entry");

// WinSCard and the card dialog.
static_assert(sizeof(SCARD_IO_REQUEST) == 8, "SCARD_IO_REQUEST");
static_assert(sizeof(SCARDCONTEXT) == kPointer && sizeof(SCARDHANDLE) == kPointer,
              "PC/SC handles are pointer-sized");
static_assert(sizeof(OPENCARDNAMEA) == (kX86 ? 92 : 176), "OPENCARDNAMEA");
static_assert(offsetof(OPENCARDNAMEA, lpstrRdr) == (kX86 ? 36 : 72), "OPENCARDNAMEA.lpstrRdr");
static_assert(offsetof(OPENCARDNAMEA, nMaxRdr) == (kX86 ? 40 : 80), "OPENCARDNAMEA.nMaxRdr");
static_assert(offsetof(OPENCARDNAMEA, dwShareMode) == (kX86 ? 64 : 128),
              "OPENCARDNAMEA.dwShareMode");
static_assert(offsetof(OPENCARDNAMEA, hCardHandle) == (kX86 ? 88 : 168),
              "OPENCARDNAMEA.hCardHandle");

}  // namespace
