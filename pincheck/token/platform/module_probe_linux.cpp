#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "common/trace.h"
#include "module_probe.h"

namespace token {

namespace {

bool isFile(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace

ModuleLoadError lastModuleLoadError() {
    ModuleLoadError error;
    const char* text = dlerror();
    if (text) error.text = text;
    return error;
}

std::string loadedModulePath(void*, const void* address) {
    Dl_info info;
    if (dladdr(address, &info) == 0 || !info.dli_fname) return "";
    std::string path = info.dli_fname;
    // The name the library was opened by; the real file behind it may be a symbolic link away.
    std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
    return real ? std::string(real.get()) : path;
}

std::string moduleFileVersion(const std::string&) {
    return "";
}

// The folders the dynamic linker searches for a plain name that are readable without its cache:
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
    for (const std::string& folder : folders) {
        const std::string path = folder + "/" + file;
        if (isFile(path)) return path;
    }
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

// A library already in the process counts as found; otherwise it is loaded lazily and let go
// again, which is what the module's own load would have had to do.
bool dependencyFound(const std::string& name, const std::string& moduleFolder) {
    if (void* held = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD)) {
        dlclose(held);
        return true;
    }
    if (void* loaded = dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL)) {
        dlclose(loaded);
        return true;
    }
    // A module may find its own neighbours through its run path ($ORIGIN).
    return name.find('/') == std::string::npos && !moduleFolder.empty() &&
           isFile(moduleFolder + "/" + name);
}

ProgramFacts thisProgram() {
    return {ModuleFormat::kElf, static_cast<int>(sizeof(void*) * 8),
            cardtrace::buildArchitecture()};
}

}  // namespace token
