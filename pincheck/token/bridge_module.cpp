// Binding and releasing the PKCS#11 module.
#include "bridge.h"
#include "module_loader.h"

namespace token {

CK_RV BindModule(const char* name, void** module, CK_FUNCTION_LIST_PTR* functions) {
    if (!name || !module || !functions) return CKR_ARGUMENTS_BAD;
    *module = nullptr;
    *functions = nullptr;

    void* handle = loadModule(name);
    if (!handle) return CKR_FUNCTION_FAILED;
    // Whatever goes wrong after the load, the module is not left loaded behind a failed bind.
    auto fail = [handle](CK_RV rv) {
        unloadModule(handle);
        return rv;
    };
    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(findModuleSymbol(handle, "C_GetFunctionList"));
    if (!getFunctionList) return fail(CKR_FUNCTION_FAILED);
    CK_FUNCTION_LIST_PTR list = nullptr;
    if (getFunctionList(&list) != CKR_OK || !list || !list->C_Initialize)
        return fail(CKR_FUNCTION_FAILED);

    // No mutex callbacks and no flags: the layer is used from one thread.
    CK_C_INITIALIZE_ARGS args = {};
    const CK_RV rv = list->C_Initialize(&args);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) return fail(rv);

    *module = handle;
    *functions = list;
    return CKR_OK;
}

CK_RV ReleaseModule(void** module, CK_FUNCTION_LIST_PTR* functions) {
    if (!module || !functions || !*functions) return CKR_ARGUMENTS_BAD;
    const CK_RV rv = (*functions)->C_Finalize(nullptr);
    // A module that refuses to finalise may still be in use; unloading it would pull its code
    // out from under whatever it is doing.
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_NOT_INITIALIZED) return rv;
    if (*module && !unloadModule(*module)) return CKR_FUNCTION_FAILED;
    *module = nullptr;
    *functions = nullptr;
    return rv;
}

}  // namespace token
