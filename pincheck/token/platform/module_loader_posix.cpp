#include <dlfcn.h>

#include "module_loader.h"

namespace token {

// RTLD_LOCAL keeps the module's symbols to itself: the layer reaches it only through
// C_GetFunctionList.
void* loadModule(const char* name) {
    return dlopen(name, RTLD_NOW | RTLD_LOCAL);
}

void* findModuleSymbol(void* module, const char* symbol) {
    return dlsym(module, symbol);
}

bool unloadModule(void* module) {
    return dlclose(module) == 0;
}

// RTLD_NOLOAD: only the library already mapped there gets the reference, nothing is loaded.
void* referenceModuleAt(const void* address) {
    Dl_info info;
    if (dladdr(address, &info) == 0 || !info.dli_fname) return nullptr;
    return dlopen(info.dli_fname, RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
}

}  // namespace token
