// Why a module file did not load or bind, read from the file's own header: a library for
// another machine or word size, a dependency the loader cannot find, a file that is no library.
// Only the support trace asks, and only after a failure. The parser reads bytes handed to it and
// never past them, so any file (truncated, hostile) gives an answer and nothing worse.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace token {

enum class ModuleFormat { kNone, kElf, kPe };

// What the header of a file says.
struct ModuleFileFacts {
    ModuleFormat format = ModuleFormat::kNone;
    bool library = false;  // a shared library (ELF ET_DYN, PE with the DLL flag)
    int bits = 0;          // 32 or 64; 0 when unknown
    std::string machine;   // "x64", "x86", "arm64", "arm", or "machine 0x..."
    // The libraries it needs by name (ELF DT_NEEDED, PE import table), in file order; only those
    // the part of the file at hand holds.
    std::vector<std::string> needed;
};

// The longest part of a module file the diagnosis reads; an import table past it is not seen.
constexpr std::size_t kModuleFileReadLimit = 16u * 1024 * 1024;

ModuleFileFacts readModuleFacts(const unsigned char* bytes, std::size_t size);

// The program's side of the comparison.
struct ProgramFacts {
    ModuleFormat format;
    int bits;
    const char* machine;
};

// The diagnosis of a load that failed, in one sentence, or empty when the file shows nothing
// wrong: "not a library", "module is 32-bit x86, this program is 64-bit x64", "dependency not
// found: libx.so.1, liby.so". `found` answers whether the loader can find a needed library.
std::string diagnoseLoadFailure(const ModuleFileFacts& facts, const ProgramFacts& program,
                                const std::function<bool(const std::string&)>& found);

}  // namespace token
