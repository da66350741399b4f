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

}  // namespace token
