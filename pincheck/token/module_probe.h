// What the platform can tell about a module file and its load, for the support trace only: no
// function here is called while the trace is off.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "module_diagnosis.h"

namespace token {

// The loader's own account of the last failed load or symbol lookup (Linux: dlerror's text and
// code 0; Windows: GetLastError and its FormatMessage text). Read it right after the failure,
// before anything else loads.
struct ModuleLoadError {
    unsigned long code = 0;
    std::string text;
};
ModuleLoadError lastModuleLoadError();

// The full path of the loaded library that holds `address` (the module's C_GetFunctionList),
// UTF-8; empty when the platform cannot tell.
std::string loadedModulePath(void* module, const void* address);
// The file version from the library's version resource ("1.2.3.4"); empty where there is none
// (always on Linux).
std::string moduleFileVersion(const std::string& path);

// The file the loader would take for `name` when it looks for it (a path as given, or the first
// folder of the search that holds a file of that name); empty when no folder does.
std::string locateModuleFile(const char* name);
// Up to `limit` bytes from the file's start; false when it cannot be read.
bool readFileStart(const std::string& path, std::size_t limit, std::vector<unsigned char>& out);
// Whether the loader finds the library `name` that a module in `moduleFolder` needs.
bool dependencyFound(const std::string& name, const std::string& moduleFolder);

// The file format, word size and machine this program loads libraries of.
ProgramFacts thisProgram();

}  // namespace token
