// The platform's dynamic library loader, the only platform-specific part of the layer.
#pragma once

namespace token {

// Loads a library by name as given. A plain name is searched as the platform does (Linux: the
// dynamic linker's search), except that Windows looks only in the program's own folder and the
// system folder, never in the working folder or PATH. Null when it cannot be loaded.
void* loadModule(const char* name);
// The address of an exported symbol, or null.
void* findModuleSymbol(void* module, const char* symbol);
// False when the platform refuses to unload.
bool unloadModule(void* module);
// One more reference on the loaded library that holds `address` (its function list, say), released
// with unloadModule: it stays mapped while the holder lives. Null when the platform cannot tell.
void* referenceModuleAt(const void* address);

}  // namespace token
