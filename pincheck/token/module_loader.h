// The platform's dynamic library loader, the only platform-specific part of the layer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "module_diagnosis.h"

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

// What the platform can tell about a module file and its load, for the support trace only:
// nothing below is called while the trace is off.

// The loader's own account of the last failed load or symbol lookup (Linux: dlerror's text and
// code 0; Windows: GetLastError and its system text). Read right after the failure.
struct ModuleLoadError {
    unsigned long code = 0;
    std::string text;
};
ModuleLoadError lastModuleLoadError();
// The full path (UTF-8) of the loaded library that holds `address`; empty when unknown.
std::string loadedModulePath(const void* address);
// The file version from the version resource of the loaded library that holds `address`
// ("1.2.3.4"); empty where there is none (always on Linux).
std::string loadedModuleVersion(const void* address);
// The file the loader would take for `name` (a path as given, or the first folder of its search
// holding that name); empty when no folder does.
std::string locateModuleFile(const char* name);
// Up to `limit` bytes from the file's start; false when it cannot be read.
bool readFileStart(const std::string& path, std::size_t limit, std::vector<unsigned char>& out);
// Whether the loader would find the library `name` that a module in `moduleFolder` needs.
bool dependencyFound(const std::string& name, const std::string& moduleFolder);
// The file format, word size and machine this program loads libraries of.
ProgramFacts thisProgram();

}  // namespace token
