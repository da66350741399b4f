#include <windows.h>

#include "module_loader.h"

namespace token {

void* loadModule(const char* name) {
    return reinterpret_cast<void*>(LoadLibraryA(name));
}

void* findModuleSymbol(void* module, const char* symbol) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), symbol));
}

bool unloadModule(void* module) {
    return FreeLibrary(static_cast<HMODULE>(module)) != 0;
}

void* referenceModuleAt(const void* address) {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCSTR>(address),
                            &module))
        return nullptr;
    return reinterpret_cast<void*>(module);
}

}  // namespace token
