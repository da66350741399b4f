#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "common/trace.h"
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

namespace {

bool isFile(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace

ModuleLoadError lastModuleLoadError() {
    ModuleLoadError error;
    if (const char* text = dlerror()) error.text = text;
    return error;
}

std::string loadedModulePath(const void* address) {
    Dl_info info;
    if (dladdr(address, &info) == 0 || !info.dli_fname) return "";
    // The name the library was opened by; the file behind it may be a symbolic link away.
    std::unique_ptr<char, decltype(&std::free)> real(realpath(info.dli_fname, nullptr), &std::free);
    return real ? std::string(real.get()) : std::string(info.dli_fname);
}

std::string loadedModuleVersion(const void*) {
    return "";
}

// The folders of the dynamic linker's search that can be read without its cache:
// LD_LIBRARY_PATH, then the default folders.
std::string locateModuleFile(const char* name) {
    const std::string file = name ? name : "";
    if (file.empty()) return "";
    if (file.find('/') != std::string::npos) return isFile(file) ? file : "";
    std::vector<std::string> folders;
    if (const char* list = std::getenv("LD_LIBRARY_PATH")) {
        std::string entry;
        for (const char* p = list;; ++p) {
            if (*p == ':' || *p == ';' || *p == '\0') {
                if (!entry.empty()) folders.push_back(entry);
                entry.clear();
                if (*p == '\0') break;
            } else {
                entry += *p;
            }
        }
    }
    for (const char* folder : {"/usr/local/lib", "/lib", "/usr/lib"}) folders.emplace_back(folder);
    for (const std::string& folder : folders)
        if (isFile(folder + "/" + file)) return folder + "/" + file;
    return "";
}

bool readFileStart(const std::string& path, std::size_t limit, std::vector<unsigned char>& out) {
    out.clear();
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"),
                                                            &std::fclose);
    if (!file) return false;
    unsigned char chunk[65536];
    while (out.size() < limit) {
        const std::size_t want = std::min(sizeof chunk, limit - out.size());
        const std::size_t got = std::fread(chunk, 1, want, file.get());
        out.insert(out.end(), chunk, chunk + got);
        if (got < want) break;
    }
    return true;
}

// Asked with RTLD_NOLOAD first: a library the process already holds counts as found without
// running anything. Otherwise it is loaded and let go, as the module's own load would have done;
// a module may also find its neighbours through its run path ($ORIGIN).
bool dependencyFound(const std::string& name, const std::string& moduleFolder) {
    for (int mode : {RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD, RTLD_LAZY | RTLD_LOCAL}) {
        if (void* library = dlopen(name.c_str(), mode)) {
            dlclose(library);
            return true;
        }
    }
    return name.find('/') == std::string::npos && !moduleFolder.empty() &&
           isFile(moduleFolder + name);
}

ProgramFacts thisProgram() {
    return {ModuleFormat::kElf, static_cast<int>(sizeof(void*) * 8),
            cardtrace::buildArchitecture()};
}

}  // namespace token
