// Binding and releasing the PKCS#11 module.
#include <string>
#include <vector>

#include "bridge.h"
#include "call_trace.h"
#include "common/scope_exit.h"
#include "module_diagnosis.h"
#include "module_loader.h"

namespace token {

namespace {

// The trace line of a bind that failed at `stage`: the loader's error, the file it would have
// taken, and what that file's own header says is wrong with it. Only written while tracing.
void traceBindFailure(const char* name, const char* stage, const ModuleLoadError& error) {
    cardtrace::Event event("module.load");
    event.text("name", name).flag("loaded", false).text("stage", stage);
    event.unsignedNumber("error_code", error.code).text("error", error.text);
    const std::string path = locateModuleFile(name);
    event.text("path", path);
    if (std::string(stage) == "symbol") {
        event.text("diagnosis", "library without C_GetFunctionList");
        return;
    }
    if (std::string(stage) != "load") return;
    std::vector<unsigned char> start;
    if (path.empty()) {
        event.text("diagnosis", "file not found");
    } else if (!readFileStart(path, kModuleFileReadLimit, start)) {
        event.text("diagnosis", "file cannot be read");
    } else {
        const std::string folder = path.substr(0, path.find_last_of("/\\") + 1);
        const ModuleFileFacts facts = readModuleFacts(start.data(), start.size());
        event.text("module_machine", facts.machine).number("module_bits", facts.bits);
        event.text("diagnosis",
                   diagnoseLoadFailure(facts, thisProgram(), [&](const std::string& needed) {
                       return dependencyFound(needed, folder);
                   }));
    }
}

}  // namespace

CK_RV BindModule(const char* name, void** module, CK_FUNCTION_LIST_PTR* functions) {
    if (!name || !module || !functions) return CKR_ARGUMENTS_BAD;
    *module = nullptr;
    *functions = nullptr;
    // Decided before the load, so that opening the trace cannot overwrite the loader's error.
    const bool tracing = cardtrace::on();

    void* handle = loadModule(name);
    if (!handle) {
        if (tracing) traceBindFailure(name, "load", lastModuleLoadError());
        return CKR_FUNCTION_FAILED;
    }
    // Whatever goes wrong after the load, the module is not left loaded behind a failed bind.
    common::ScopeExit unload([handle] { unloadModule(handle); });
    auto fail = [name, tracing](const char* stage, CK_RV rv) {
        if (tracing) traceBindFailure(name, stage, lastModuleLoadError());
        return rv;
    };
    auto getFunctionList =
        reinterpret_cast<CK_C_GetFunctionList>(findModuleSymbol(handle, "C_GetFunctionList"));
    if (!getFunctionList) return fail("symbol", CKR_FUNCTION_FAILED);
    CK_FUNCTION_LIST_PTR list = nullptr;
    CK_RV rv = ModuleCall("C_GetFunctionList").finish(getFunctionList(&list));
    if (rv != CKR_OK || !list || !list->C_Initialize)
        return fail("C_GetFunctionList", CKR_FUNCTION_FAILED);

    // No mutex callbacks and no flags: the layer is used from one thread.
    CK_C_INITIALIZE_ARGS args = {};
    rv = ModuleCall("C_Initialize").finish(list->C_Initialize(&args));
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) return fail("C_Initialize", rv);

    if (tracing) {
        const void* at = reinterpret_cast<const void*>(getFunctionList);
        cardtrace::Event("module.load")
            .text("name", name)
            .flag("loaded", true)
            .text("path", loadedModulePath(at))
            .text("file_version", loadedModuleVersion(at));
        // The module's own account of itself, on its call line.
        CK_INFO info;
        GetInfo(list, &info);
    }
    unload.release();
    *module = handle;
    *functions = list;
    return CKR_OK;
}

CK_RV ReleaseModule(void** module, CK_FUNCTION_LIST_PTR* functions) {
    if (!module || !functions || !*functions) return CKR_ARGUMENTS_BAD;
    ModuleCall call("C_Finalize");
    const CK_RV rv = call.finish((*functions)->C_Finalize(nullptr));
    // A module that refuses to finalise may still be in use; unloading it would pull its code
    // out from under whatever it is doing.
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_NOT_INITIALIZED) return rv;
    if (*module && !unloadModule(*module)) return CKR_FUNCTION_FAILED;
    *module = nullptr;
    *functions = nullptr;
    return rv;
}

}  // namespace token
