#include "module_diagnosis.h"

#include <cstdint>
#include <cstdio>

namespace token {

namespace {

// A library with more needed names than this is no module anyone ships; the rest is not read.
constexpr std::size_t kMaxNeeded = 64;
// Longest dependency name kept, and the longest dynamic section or import table walked.
constexpr std::size_t kMaxNameLength = 255;
constexpr std::size_t kMaxTableEntries = 4096;

// Little- or big-endian reads that answer false instead of reading past the bytes.
class Bytes {
  public:
    Bytes(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    bool bigEndian = false;

    bool has(std::uint64_t offset, std::uint64_t length) const {
        return offset <= size_ && length <= size_ - offset;
    }
    bool u16(std::uint64_t offset, std::uint32_t& out) const {
        std::uint64_t v = 0;
        if (!read(offset, 2, v)) return false;
        out = static_cast<std::uint32_t>(v);
        return true;
    }
    bool u32(std::uint64_t offset, std::uint64_t& out) const { return read(offset, 4, out); }
    bool u64(std::uint64_t offset, std::uint64_t& out) const { return read(offset, 8, out); }
    // A word of the file's class: 4 bytes for 32-bit files, 8 for 64-bit ones.
    bool word(std::uint64_t offset, bool wide, std::uint64_t& out) const {
        return wide ? u64(offset, out) : u32(offset, out);
    }
    // A NUL-terminated name; false when it runs past the bytes or the length limit.
    bool name(std::uint64_t offset, std::string& out) const {
        out.clear();
        for (std::uint64_t i = offset; i < size_ && out.size() <= kMaxNameLength; ++i) {
            if (data_[i] == 0) return !out.empty();
            out += static_cast<char>(data_[i]);
        }
        return false;
    }

  private:
    bool read(std::uint64_t offset, unsigned length, std::uint64_t& out) const {
        if (!has(offset, length)) return false;
        out = 0;
        for (unsigned i = 0; i < length; ++i) {
            const unsigned shift = bigEndian ? 8 * (length - 1 - i) : 8 * i;
            out |= std::uint64_t{data_[offset + i]} << shift;
        }
        return true;
    }
    const unsigned char* data_;
    std::size_t size_;
};

std::string machineNumber(std::uint32_t value) {
    char text[32];
    std::snprintf(text, sizeof text, "machine 0x%X", static_cast<unsigned>(value));
    return text;
}

struct MachineName {
    std::uint32_t value;
    const char* name;
};
constexpr MachineName kElfMachines[] = {{3, "x86"}, {62, "x64"}, {40, "arm"}, {183, "arm64"}};
constexpr MachineName kPeMachines[] = {
    {0x14C, "x86"}, {0x8664, "x64"}, {0x1C4, "arm"}, {0xAA64, "arm64"}};

template <std::size_t N>
std::string machineName(const MachineName (&names)[N], std::uint32_t value) {
    for (const MachineName& entry : names)
        if (entry.value == value) return entry.name;
    return machineNumber(value);
}

// The file offset of a virtual address inside one of the loaded segments, or false.
bool elfOffsetOf(const Bytes& b, bool wide, std::uint64_t phoff, std::uint32_t phentsize,
                 std::uint32_t phnum, std::uint64_t address, std::uint64_t& offset) {
    for (std::uint32_t i = 0; i < phnum; ++i) {
        const std::uint64_t ph = phoff + std::uint64_t{i} * phentsize;
        std::uint64_t type = 0, fileOffset = 0, vaddr = 0, filesz = 0;
        if (!b.u32(ph, type)) return false;
        if (type != 1) continue;  // PT_LOAD
        const bool ok =
            wide ? b.u64(ph + 8, fileOffset) && b.u64(ph + 16, vaddr) && b.u64(ph + 32, filesz)
                 : b.u32(ph + 4, fileOffset) && b.u32(ph + 8, vaddr) && b.u32(ph + 16, filesz);
        if (!ok) return false;
        if (address >= vaddr && address - vaddr < filesz) {
            offset = fileOffset + (address - vaddr);
            return true;
        }
    }
    return false;
}

void readElf(Bytes& b, ModuleFileFacts& facts) {
    std::uint64_t cls = 0, data = 0;
    if (!b.has(0, 6)) return;
    b.u32(4, cls);
    cls &= 0xFF;
    b.u32(5, data);
    data &= 0xFF;
    if ((cls != 1 && cls != 2) || (data != 1 && data != 2)) return;
    const bool wide = cls == 2;
    b.bigEndian = data == 2;
    facts.format = ModuleFormat::kElf;
    facts.bits = wide ? 64 : 32;
    std::uint32_t type = 0, machine = 0;
    if (!b.u16(16, type) || !b.u16(18, machine)) return;
    facts.machine = machineName(kElfMachines, machine);
    facts.library = type == 3;  // ET_DYN

    std::uint64_t phoff = 0;
    std::uint32_t phentsize = 0, phnum = 0;
    if (!b.word(wide ? 32 : 28, wide, phoff) || !b.u16(wide ? 54 : 42, phentsize) ||
        !b.u16(wide ? 56 : 44, phnum) || phentsize < (wide ? 56u : 32u))
        return;
    // The dynamic section: where its entries lie in the file.
    std::uint64_t dynOffset = 0, dynSize = 0;
    bool dynamic = false;
    for (std::uint32_t i = 0; i < phnum && !dynamic; ++i) {
        const std::uint64_t ph = phoff + std::uint64_t{i} * phentsize;
        std::uint64_t ptype = 0;
        if (!b.u32(ph, ptype)) return;
        if (ptype != 2) continue;  // PT_DYNAMIC
        dynamic = wide ? b.u64(ph + 8, dynOffset) && b.u64(ph + 32, dynSize)
                       : b.u32(ph + 4, dynOffset) && b.u32(ph + 16, dynSize);
    }
    if (!dynamic) return;
    const std::uint64_t entrySize = wide ? 16 : 8;
    std::vector<std::uint64_t> neededOffsets;
    std::uint64_t strtab = 0;
    bool haveStrtab = false;
    for (std::uint64_t i = 0; i < kMaxTableEntries && (i + 1) * entrySize <= dynSize; ++i) {
        std::uint64_t tag = 0, value = 0;
        const std::uint64_t at = dynOffset + i * entrySize;
        if (!b.word(at, wide, tag) || !b.word(at + entrySize / 2, wide, value) || tag == 0) break;
        if (tag == 1 && neededOffsets.size() < kMaxNeeded) neededOffsets.push_back(value);
        if (tag == 5) {
            strtab = value;
            haveStrtab = true;
        }
    }
    std::uint64_t strtabOffset = 0;
    if (!haveStrtab || !elfOffsetOf(b, wide, phoff, phentsize, phnum, strtab, strtabOffset)) return;
    for (std::uint64_t offset : neededOffsets) {
        std::string name;
        if (strtabOffset + offset >= strtabOffset && b.name(strtabOffset + offset, name))
            facts.needed.push_back(name);
    }
}

// The file offset of a relative virtual address inside one of the sections, or false.
bool peOffsetOf(const Bytes& b, std::uint64_t sections, std::uint32_t count, std::uint64_t rva,
                std::uint64_t& offset) {
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t s = sections + std::uint64_t{i} * 40;
        std::uint64_t virtualSize = 0, address = 0, rawSize = 0, rawPointer = 0;
        if (!b.u32(s + 8, virtualSize) || !b.u32(s + 12, address) || !b.u32(s + 16, rawSize) ||
            !b.u32(s + 20, rawPointer))
            return false;
        if (rva >= address && rva - address < rawSize) {
            offset = rawPointer + (rva - address);
            return true;
        }
    }
    return false;
}

void readPe(const Bytes& b, ModuleFileFacts& facts) {
    std::uint64_t peOffset = 0, signature = 0;
    if (!b.u32(0x3C, peOffset) || !b.u32(peOffset, signature) || signature != 0x00004550) return;
    facts.format = ModuleFormat::kPe;
    const std::uint64_t coff = peOffset + 4;
    std::uint32_t machine = 0, sectionCount = 0, optionalSize = 0, characteristics = 0, magic = 0;
    if (!b.u16(coff, machine) || !b.u16(coff + 2, sectionCount) ||
        !b.u16(coff + 16, optionalSize) || !b.u16(coff + 18, characteristics))
        return;
    facts.machine = machineName(kPeMachines, machine);
    facts.library = (characteristics & 0x2000) != 0;  // IMAGE_FILE_DLL
    const std::uint64_t optional = coff + 20;
    if (!b.u16(optional, magic) || (magic != 0x10B && magic != 0x20B)) return;
    const bool wide = magic == 0x20B;
    facts.bits = wide ? 64 : 32;

    std::uint64_t directoryCount = 0, importRva = 0;
    if (!b.u32(optional + (wide ? 108 : 92), directoryCount) || directoryCount < 2 ||
        !b.u32(optional + (wide ? 112 : 96) + 8, importRva) || importRva == 0)
        return;
    const std::uint64_t sections = optional + optionalSize;
    std::uint64_t descriptor = 0;
    if (!peOffsetOf(b, sections, sectionCount, importRva, descriptor)) return;
    // Import descriptors of 20 bytes each, up to one of all zeros.
    for (std::size_t i = 0; i < kMaxTableEntries && facts.needed.size() < kMaxNeeded; ++i) {
        std::uint64_t lookup = 0, nameRva = 0, thunks = 0, nameOffset = 0;
        const std::uint64_t at = descriptor + i * 20;
        if (!b.u32(at, lookup) || !b.u32(at + 12, nameRva) || !b.u32(at + 16, thunks)) return;
        if (lookup == 0 && nameRva == 0 && thunks == 0) return;
        std::string name;
        if (peOffsetOf(b, sections, sectionCount, nameRva, nameOffset) && b.name(nameOffset, name))
            facts.needed.push_back(name);
    }
}

}  // namespace

ModuleFileFacts readModuleFacts(const unsigned char* bytes, std::size_t size) {
    ModuleFileFacts facts;
    if (!bytes) return facts;
    Bytes b(bytes, size);
    if (size >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F')
        readElf(b, facts);
    else if (size >= 2 && bytes[0] == 'M' && bytes[1] == 'Z')
        readPe(b, facts);
    return facts;
}

std::string diagnoseLoadFailure(const ModuleFileFacts& facts, const ProgramFacts& program,
                                const std::function<bool(const std::string&)>& found) {
    if (facts.format != program.format || facts.machine.empty()) return "not a library";
    if (facts.machine != program.machine || (facts.bits != 0 && facts.bits != program.bits)) {
        // Built by appending: a text literal on the left of + would instantiate an operator the
        // program then exports beside the token API.
        const auto side = [](std::string text, int bits, const std::string& machine) {
            if (bits) text.append(std::to_string(bits)).append("-bit ");
            return text.append(machine);
        };
        return side(side("module is ", facts.bits, facts.machine) + ", this program is ",
                    program.bits, program.machine);
    }
    if (!facts.library) return "not a library";
    std::string missing;
    for (const std::string& name : facts.needed) {
        if (found && found(name)) continue;
        missing.append(missing.empty() ? "dependency not found: " : ", ").append(name);
    }
    return missing;
}

}  // namespace token
