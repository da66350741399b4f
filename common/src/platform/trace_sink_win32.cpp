#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

#include "common/trace.h"
#include "trace_sink.h"

namespace cardtrace {
namespace sink {
namespace {

HANDLE traceFile = INVALID_HANDLE_VALUE;

std::string utf8(const wchar_t* text, int length) {
    if (length <= 0) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return "";
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &out[0], size, nullptr, nullptr);
    return out;
}

// FILE_APPEND_DATA alone: the system moves every write to the file's end as one piece. Shared
// for deletion, so the troubleshooting mode can end while a program still holds the file.
HANDLE openForAppend(const wchar_t* path, DWORD disposition) {
    return CreateFileW(path, FILE_APPEND_DATA,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The desktop folder as the shell keeps it for this user, without loading the shell's DLL
// into every program run: the per-user folder list in the registry, expanded.
bool desktopFolder(std::wstring& folder) {
    wchar_t path[MAX_PATH];
    DWORD size = sizeof path;
    const wchar_t* keys[] = {
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};
    for (const wchar_t* key : keys) {
        size = sizeof path;
        if (RegGetValueW(HKEY_CURRENT_USER, key, L"Desktop", RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ,
                         nullptr, path, &size) == ERROR_SUCCESS &&
            path[0] != L'\0') {
            folder = path;
            return true;
        }
    }
    const DWORD length = GetEnvironmentVariableW(L"USERPROFILE", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    folder = std::wstring(path) + L"\\Desktop";
    return true;
}

}  // namespace

bool open() {
    wchar_t named[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"CARD_TRACE_FILE", named, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        traceFile = openForAppend(named, OPEN_ALWAYS);
    } else {
        // The troubleshooting mode's file: written only while it exists, never created here.
        std::wstring folder;
        if (!desktopFolder(folder)) return false;
        const char* name = cardtrace::kDesktopTraceFile;
        folder += L'\\';
        folder.append(name, name + std::strlen(name));
        traceFile = openForAppend(folder.c_str(), OPEN_EXISTING);
    }
    return traceFile != INVALID_HANDLE_VALUE;
}

void append(const char* data, std::size_t size) {
    if (traceFile == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(traceFile, data, static_cast<DWORD>(size), &written, nullptr);
}

long long processId() {
    return static_cast<long long>(GetCurrentProcessId());
}

std::string programName() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    const wchar_t* name = path;
    for (const wchar_t* p = path; *p; ++p)
        if (*p == L'\\' || *p == L'/') name = p + 1;
    int size = static_cast<int>(std::wcslen(name));
    if (size > 4 && _wcsicmp(name + size - 4, L".exe") == 0) size -= 4;
    return utf8(name, size);
}

std::string osVersion() {
    // RtlGetVersion tells the real version; GetVersionEx answers what the manifest allows.
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    auto rtlGetVersion = ntdll ? reinterpret_cast<GetVersion>(reinterpret_cast<void*>(
                                     GetProcAddress(ntdll, "RtlGetVersion")))
                               : nullptr;
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!rtlGetVersion || rtlGetVersion(&info) != 0) return "Windows";
    char text[64];
    std::snprintf(text, sizeof text, "Windows %lu.%lu.%lu", info.dwMajorVersion,
                  info.dwMinorVersion, info.dwBuildNumber);
    return text;
}

std::string utcNow() {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[96];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    return text;
}

}  // namespace sink
}  // namespace cardtrace
