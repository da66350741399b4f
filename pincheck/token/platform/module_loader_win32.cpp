#include <windows.h>

#include "module_loader.h"

namespace token {

namespace {

// "C:\..." or "\\server\...": only such a name may ask for the module's own folder to serve its
// dependencies; the loader refuses that flag for any other name.
bool isFullPath(const char* name) {
    const bool drive = name[0] != '\0' && name[1] == ':' && (name[2] == '\\' || name[2] == '/');
    const bool share = (name[0] == '\\' || name[0] == '/') && (name[1] == '\\' || name[1] == '/');
    return drive || share;
}

}  // namespace

// The module receives the PIN, so it is taken only from folders that an ordinary user cannot
// write to once the programs are installed: the program's own folder and the system folder.
// The plain LoadLibrary search would also try the current working folder (which the caller's
// caller chooses) and every PATH entry. These flags apply to this one load and to the module's
// own dependencies; the process's DLL search settings stay as its owner set them.
void* loadModule(const char* name) {
    DWORD flags = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
    if (isFullPath(name)) flags |= LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR;
    return reinterpret_cast<void*>(LoadLibraryExA(name, nullptr, flags));
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
