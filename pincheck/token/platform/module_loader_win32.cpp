#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/trace.h"
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

namespace {

std::string utf8(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return "";
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

std::wstring wide(const std::string& text, UINT codePage) {
    const int size = MultiByteToWideChar(codePage, 0, text.c_str(), -1, nullptr, 0);
    if (size <= 1) return L"";
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, &out[0], size);
    out.resize(static_cast<std::size_t>(size - 1));
    return out;
}

bool isFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folders loadModule searches, in its order: the program's own, then the system folder.
std::wstring programFolder() {
    std::wstring path(32768, L'\0');
    const DWORD size = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
    path.resize(size);
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring systemFolder() {
    wchar_t path[MAX_PATH + 1];
    const UINT size = GetSystemDirectoryW(path, MAX_PATH);
    return size == 0 || size > MAX_PATH ? L"" : std::wstring(path, size) + L"\\";
}

HMODULE moduleAt(const void* address) {
    HMODULE module = nullptr;
    GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        static_cast<LPCWSTR>(address), &module);
    return module;
}

}  // namespace

ModuleLoadError lastModuleLoadError() {
    ModuleLoadError error;
    error.code = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error.code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    if (text) {
        error.text = utf8(text);
        LocalFree(text);
        while (!error.text.empty() && (error.text.back() == '\n' || error.text.back() == '\r'))
            error.text.pop_back();
    }
    return error;
}

std::string loadedModulePath(const void* address) {
    const HMODULE module = moduleAt(address);
    if (!module) return "";
    std::wstring path(32768, L'\0');
    const DWORD size = GetModuleFileNameW(module, &path[0], static_cast<DWORD>(path.size()));
    path.resize(size);
    return utf8(path.c_str());
}

// The fixed part of the version resource, found by its signature: the text members before it
// vary in length.
std::string loadedModuleVersion(const void* address) {
    const HMODULE module = moduleAt(address);
    HRSRC resource =
        module ? FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(16)) : nullptr;
    HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
    const auto* bytes = loaded ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    if (!bytes) return "";
    const DWORD size = SizeofResource(module, resource);
    for (DWORD at = 0; at + 16 <= size; at += 4) {
        std::uint32_t word[4];
        std::memcpy(word, bytes + at, sizeof word);
        if (word[0] != 0xFEEF04BDu) continue;
        return std::to_string(word[2] >> 16) + "." + std::to_string(word[2] & 0xFFFF) + "." +
               std::to_string(word[3] >> 16) + "." + std::to_string(word[3] & 0xFFFF);
    }
    return "";
}

std::string locateModuleFile(const char* name) {
    if (!name || !*name) return "";
    const std::wstring file = wide(name, CP_ACP);
    if (isFullPath(name)) return isFile(file) ? utf8(file.c_str()) : "";
    for (const std::wstring& folder : {programFolder(), systemFolder()})
        if (!folder.empty() && isFile(folder + file)) return utf8((folder + file).c_str());
    return "";
}

bool readFileStart(const std::string& path, std::size_t limit, std::vector<unsigned char>& out) {
    out.clear();
    HANDLE file = CreateFileW(wide(path, CP_UTF8).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    unsigned char chunk[65536];
    while (out.size() < limit) {
        const DWORD want =
            static_cast<DWORD>(std::min<std::size_t>(sizeof chunk, limit - out.size()));
        DWORD got = 0;
        if (!ReadFile(file, chunk, want, &got, nullptr) || got == 0) break;
        out.insert(out.end(), chunk, chunk + got);
    }
    CloseHandle(file);
    return true;
}

// The dependencies of the module are searched as the module was: its own folder (for a module
// named by its path), the program's folder, the system folder; API sets and DLLs the process
// already holds are there by definition.
bool dependencyFound(const std::string& name, const std::string& moduleFolder) {
    if (_strnicmp(name.c_str(), "api-ms-", 7) == 0 || _strnicmp(name.c_str(), "ext-ms-", 7) == 0)
        return true;
    if (GetModuleHandleA(name.c_str())) return true;
    const std::wstring file = wide(name, CP_ACP);
    for (const std::wstring& folder :
         {wide(moduleFolder, CP_UTF8), programFolder(), systemFolder()})
        if (!folder.empty() && isFile(folder + file)) return true;
    return false;
}

ProgramFacts thisProgram() {
    return {ModuleFormat::kPe, static_cast<int>(sizeof(void*) * 8), cardtrace::buildArchitecture()};
}

}  // namespace token
