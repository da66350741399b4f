// Loads cardread.dll at run time, as a Windows caller without an import library would, and calls
// readUserData with arguments that must be refused before any PC/SC call and with a reader name
// that no smart-card service knows, and without one. Prints one line per call on standard output,
// flushed, so a debug trace on the same stream shows which call reached PC/SC. The exit status
// says only whether the library and its export could be reached.
#include <windows.h>

#include <cstdio>

namespace {

using ReadUserData = int (*)(const char*, const unsigned char*, int, const char*, unsigned char*,
                             int*);

// Marks the length word so a reply that writes it on failure shows.
constexpr int kUntouched = 0x5A5A5A5A;

void report(const char* name, int status, int length) {
    std::printf("%s status=0x%08X length=0x%08X\n", name, static_cast<unsigned>(status),
                static_cast<unsigned>(length));
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const char* dllPath = argc > 1 ? argv[1] : "cardread.dll";
    const char* readerName = argc > 2 ? argv[2] : "No Such Reader 00 00";

    HMODULE library = LoadLibraryA(dllPath);
    if (library == nullptr) {
        std::printf("load failed error=%lu\n", GetLastError());
        return 2;
    }
    auto readUserData = reinterpret_cast<ReadUserData>(
        reinterpret_cast<void*>(GetProcAddress(library, "readUserData")));
    if (readUserData == nullptr) {
        std::printf("export missing error=%lu\n", GetLastError());
        FreeLibrary(library);
        return 3;
    }
    std::printf("loaded\n");

    const unsigned char pin[] = {'1', '2', '3', '4'};
    const char recordKey[] = "0001";
    unsigned char buffer[1000] = {};

    struct Call {
        const char* name;
        const char* reader;
        const unsigned char* pin;
        int pinLength;
        const char* recordKey;
        unsigned char* buffer;
        int length;
        bool passLength;
    };
    const Call calls[] = {
        {"null-pin", readerName, nullptr, 4, recordKey, nullptr, kUntouched, true},
        {"zero-pin-length", readerName, pin, 0, recordKey, nullptr, kUntouched, true},
        {"null-record-key", readerName, pin, 4, nullptr, nullptr, kUntouched, true},
        {"null-length", readerName, pin, 4, recordKey, nullptr, kUntouched, false},
        {"size-query", readerName, pin, 4, recordKey, nullptr, kUntouched, true},
        // No reader name: the library asks the user through the smart-card dialog.
        {"no-reader-size-query", nullptr, pin, 4, recordKey, nullptr, kUntouched, true},
        {"read", readerName, pin, 4, recordKey, buffer, static_cast<int>(sizeof buffer), true},
    };
    for (const Call& call : calls) {
        int length = call.length;
        const int status = readUserData(call.reader, call.pin, call.pinLength, call.recordKey,
                                        call.buffer, call.passLength ? &length : nullptr);
        report(call.name, status, length);
    }

    std::printf("freed %d\n", FreeLibrary(library) ? 1 : 0);
    return 0;
}
