// The platform's dynamic library loader, the only platform-specific part of the layer.
#pragma once

namespace token {

// Loads a library by name as given, without adding a folder, so the platform's own search order
// applies. Null when it cannot be loaded.
void* loadModule(const char* name);
// The address of an exported symbol, or null.
void* findModuleSymbol(void* module, const char* symbol);
// False when the platform refuses to unload.
bool unloadModule(void* module);
// One more reference on the loaded library that holds `address` (its function list, say), released
// with unloadModule: it stays mapped while the holder lives. Null when the platform cannot tell.
void* referenceModuleAt(const void* address);

}  // namespace token
