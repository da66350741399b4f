/* The least a PIN check can do: the PKCS#11 calls of an accepted-PIN run in the same order and
 * nothing else. Loads the module by plain file name as the PIN check does, so the loader's
 * search path decides which file that is.
 *
 *   p11floor MODULE PIN
 *
 * Exit status 0 when every call succeeded, 1 on the first failure (named on standard error).
 */
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <stdio.h>
#include <string.h>

enum { kSlotCapacity = 10 };

static int failed(const char* call, CK_RV rv) {
    fprintf(stderr, "p11floor: %s: 0x%lx\n", call, (unsigned long)rv);
    return 1;
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: p11floor MODULE PIN\n");
        return 2;
    }
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!module) return failed("dlopen", 0);
    CK_C_GetFunctionList getList = (CK_C_GetFunctionList)dlsym(module, "C_GetFunctionList");
    if (!getList) return failed("dlsym", 0);
    CK_FUNCTION_LIST_PTR f = NULL;
    CK_RV rv = getList(&f);
    if (rv != CKR_OK) return failed("C_GetFunctionList", rv);

    CK_C_INITIALIZE_ARGS init;
    memset(&init, 0, sizeof init);
    if ((rv = f->C_Initialize(&init)) != CKR_OK) return failed("C_Initialize", rv);

    CK_SLOT_ID slots[kSlotCapacity];
    CK_ULONG count = 0;
    if ((rv = f->C_GetSlotList(CK_FALSE, NULL, &count)) != CKR_OK)
        return failed("C_GetSlotList", rv);
    if (count > kSlotCapacity || count == 0) return failed("slot count", count);
    if ((rv = f->C_GetSlotList(CK_FALSE, slots, &count)) != CKR_OK)
        return failed("C_GetSlotList", rv);

    CK_SLOT_INFO slotInfo;
    if ((rv = f->C_GetSlotInfo(slots[0], &slotInfo)) != CKR_OK) return failed("C_GetSlotInfo", rv);
    if (!(slotInfo.flags & CKF_TOKEN_PRESENT)) return failed("no token in the first slot", 0);

    CK_SESSION_HANDLE session = 0;
    if ((rv = f->C_OpenSession(slots[0], CKF_SERIAL_SESSION, NULL, NULL, &session)) != CKR_OK)
        return failed("C_OpenSession", rv);
    rv = f->C_Login(session, CKU_USER, (CK_UTF8CHAR_PTR)argv[2], (CK_ULONG)strlen(argv[2]));
    CK_SESSION_INFO sessionInfo;
    CK_RV infoRv = f->C_GetSessionInfo(session, &sessionInfo);
    if (rv != CKR_OK) return failed("C_Login", rv);
    if (infoRv != CKR_OK) return failed("C_GetSessionInfo", infoRv);
    if ((rv = f->C_Logout(session)) != CKR_OK) return failed("C_Logout", rv);
    if ((rv = f->C_CloseSession(session)) != CKR_OK) return failed("C_CloseSession", rv);
    if ((rv = f->C_Finalize(NULL)) != CKR_OK) return failed("C_Finalize", rv);
    dlclose(module);
    return 0;
}
