// The token layer's platform loader for the fuzzers: every name "loads" the in-process module
// of fake_pkcs11.cpp, so the layer's own binding and release code runs against it.
#include <cstring>

#include "fake_pkcs11.h"
#include "module_loader.h"

namespace token {
namespace {
int g_handle;  // its address is the one module handle
}

void* loadModule(const char* name) {
    return name ? &g_handle : nullptr;
}

void* findModuleSymbol(void* module, const char* symbol) {
    if (module != &g_handle || std::strcmp(symbol, "C_GetFunctionList") != 0) return nullptr;
    return reinterpret_cast<void*>(&fuzzsupport::fakeGetFunctionList);
}

bool unloadModule(void* module) {
    return module == &g_handle;
}

// The fake module lives in the fuzzer's own image: there is nothing to keep mapped.
void* referenceModuleAt(const void*) {
    return nullptr;
}

// The fake module has no file: the trace's probes find nothing to read.
ModuleLoadError lastModuleLoadError() {
    return {};
}
std::string loadedModulePath(const void*) {
    return "";
}
std::string loadedModuleVersion(const void*) {
    return "";
}
std::string locateModuleFile(const char*) {
    return "";
}
bool readFileStart(const std::string&, std::size_t, std::vector<unsigned char>&) {
    return false;
}
bool dependencyFound(const std::string&, const std::string&) {
    return false;
}
ProgramFacts thisProgram() {
    return {ModuleFormat::kElf, 64, "x64"};
}

}  // namespace token
