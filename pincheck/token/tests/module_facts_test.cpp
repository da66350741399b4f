// The module file diagnosis over images built here byte by byte: Windows DLLs, which only a
// Windows build meets otherwise, and ELF files of every class, byte order and kind of damage,
// since a module file that did not load may be anything.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "module_diagnosis.h"

namespace {

using token::ModuleFormat;

struct PeImage {
    std::uint16_t machine = 0x8664;
    bool wide = true;
    bool dll = true;
    std::vector<std::string> imports = {};
    std::uint32_t importRva = 0x1000;  // where the descriptors are; the one section starts there
};

void put(std::string& image, std::size_t at, std::uint64_t value, int width, bool big = false) {
    for (int i = 0; i < width; ++i)
        image[at + (big ? width - 1 - i : i)] = static_cast<char>(value >> (8 * i));
}

// DOS stub, "PE\0\0", COFF header, optional header, one section at RVA 0x1000 (file offset
// 0x400) holding the import descriptors and, at 0x1100, the names they point to.
std::string peFile(const PeImage& pe) {
    std::string image(0x800, '\0');
    image[0] = 'M';
    image[1] = 'Z';
    put(image, 0x3C, 0x40, 4);
    image.replace(0x40, 4, std::string("PE\0\0", 4));
    const std::size_t coff = 0x44, optional = coff + 20;
    const std::uint16_t optionalSize = pe.wide ? 240 : 224;
    put(image, coff, pe.machine, 2);
    put(image, coff + 2, 1, 2);
    put(image, coff + 16, optionalSize, 2);
    put(image, coff + 18, pe.dll ? 0x2102 : 0x0102, 2);
    put(image, optional, pe.wide ? 0x20B : 0x10B, 2);
    put(image, optional + (pe.wide ? 108 : 92), 16, 4);
    put(image, optional + (pe.wide ? 112 : 96) + 8, pe.importRva, 4);
    const std::size_t section = optional + optionalSize;
    put(image, section + 8, 0x400, 4);
    put(image, section + 12, 0x1000, 4);
    put(image, section + 16, 0x400, 4);
    put(image, section + 20, 0x400, 4);
    std::uint32_t nameRva = 0x1100;
    for (std::size_t i = 0; i < pe.imports.size(); ++i) {
        const std::size_t descriptor = 0x400 + 20 * i;
        put(image, descriptor, 0x1300, 4);
        put(image, descriptor + 12, nameRva, 4);
        put(image, descriptor + 16, 0x1380, 4);
        image.replace(nameRva - 0x1000 + 0x400, pe.imports[i].size(), pe.imports[i]);
        nameRva += static_cast<std::uint32_t>(pe.imports[i].size()) + 1;
    }
    return image;
}

struct ElfImage {
    bool wide = true;
    std::uint16_t machine = 62;
    std::vector<std::string> needed = {};
    bool big = false;
    std::uint16_t type = 3;  // ET_DYN
    bool dynamic = true;
    std::uint64_t strtabAddress = 0x1300;
    std::uint16_t headerEntrySize = 0;  // 0: the class's own
    char elfClass = 0;                  // 0: from `wide`
};

// Header, a loaded segment over the whole file at address 0x1000, the dynamic section at 0x200
// (DT_NEEDED entries, DT_STRTAB, DT_NULL) and the string table at 0x300.
std::string elfFile(const ElfImage& e) {
    std::string image(0x400, '\0');
    image.replace(0, 4,
                  "\x7F"
                  "ELF");
    image[4] = e.elfClass ? e.elfClass : e.wide ? 2 : 1;
    image[5] = e.big ? 2 : 1;
    image[6] = 1;
    const bool big = e.big;
    const int word = e.wide ? 8 : 4;
    const std::size_t phoff = e.wide ? 0x40 : 0x34, phentsize = e.wide ? 56 : 32;
    put(image, 16, e.type, 2, big);
    put(image, 18, e.machine, 2, big);
    put(image, e.wide ? 32 : 28, phoff, word, big);
    put(image, e.wide ? 54 : 42, e.headerEntrySize ? e.headerEntrySize : phentsize, 2, big);
    put(image, e.wide ? 56 : 44, 2, 2, big);
    const std::size_t entry = 2 * word, entries = e.needed.size() + 2;
    const std::size_t segments[2][4] = {{1, 0, 0x1000, 0x400},
                                        {e.dynamic ? 2u : 4u, 0x200, 0x1200, entries * entry}};
    for (std::size_t i = 0; i < 2; ++i) {
        const std::size_t ph = phoff + i * phentsize;
        put(image, ph, segments[i][0], 4, big);
        put(image, ph + (e.wide ? 8 : 4), segments[i][1], word, big);
        put(image, ph + (e.wide ? 16 : 8), segments[i][2], word, big);
        put(image, ph + (e.wide ? 32 : 16), segments[i][3], word, big);
    }
    std::size_t at = 0x200, name = 1;
    for (const std::string& n : e.needed) {
        put(image, at, 1, word, big);
        put(image, at + word, name, word, big);
        image.replace(0x300 + name, n.size(), n);
        name += n.size() + 1;
        at += entry;
    }
    put(image, at, 5, word, big);
    put(image, at + word, e.strtabAddress, word, big);
    return image;
}

// The image of `p` (or `e`) after `change`.
template <typename Change>
std::string peFile(PeImage p, Change change) {
    change(p);
    return peFile(p);
}
template <typename Change>
std::string elfFile(ElfImage e, Change change) {
    change(e);
    return elfFile(e);
}

// `image` with `value` written over `width` bytes at `at`.
std::string patched(std::string image, std::size_t at, std::uint64_t value, int width) {
    put(image, at, value, width);
    return image;
}

struct Case {
    const char* name;
    std::string image;
    token::ModuleFileFacts expected;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class ModuleFacts : public ::testing::TestWithParam<Case> {};

token::ModuleFileFacts factsOf(const std::string& image) {
    return token::readModuleFacts(reinterpret_cast<const unsigned char*>(image.data()),
                                  image.size());
}

TEST_P(ModuleFacts, AreReadFromTheFileAloneAndNeverPastIt) {
    const Case& c = GetParam();
    const token::ModuleFileFacts facts = factsOf(c.image);
    EXPECT_EQ(facts.format, c.expected.format);
    EXPECT_EQ(facts.library, c.expected.library);
    EXPECT_EQ(facts.bits, c.expected.bits);
    EXPECT_EQ(facts.machine, c.expected.machine);
    EXPECT_EQ(facts.needed, c.expected.needed);
}

// A module file cut short anywhere (a failed copy, a file still being written) gives a subset of
// what the whole file says and is never read past its end: each cut goes into a buffer of exactly
// its length, so that AddressSanitizer sees a read past it.
TEST_P(ModuleFacts, EveryCutSaysNoMoreThanTheWholeFile) {
    const std::string& image = GetParam().image;
    const token::ModuleFileFacts whole = factsOf(image);
    for (std::size_t size = 0; size < image.size(); ++size) {
        SCOPED_TRACE(size);
        const std::vector<unsigned char> cut(image.begin(), image.begin() + size);
        const token::ModuleFileFacts facts = token::readModuleFacts(cut.data(), size);
        EXPECT_TRUE(facts.format == ModuleFormat::kNone || facts.format == whole.format);
        EXPECT_TRUE(!facts.library || whole.library);
        EXPECT_TRUE(facts.bits == 0 || facts.bits == whole.bits);
        EXPECT_TRUE(facts.machine.empty() || facts.machine == whole.machine) << facts.machine;
        ASSERT_LE(facts.needed.size(), whole.needed.size());
        EXPECT_TRUE(std::equal(facts.needed.begin(), facts.needed.end(), whole.needed.begin()));
    }
}

std::string rowName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

constexpr ModuleFormat kPe = ModuleFormat::kPe, kElf = ModuleFormat::kElf;
const token::ModuleFileFacts kNothing{};
const std::vector<std::string> kTwo = {"libcrypto-3-x64.dll", "KERNEL32.dll"};
const std::vector<std::string> kNeeded = {"libcrypto.so.3", "libc.so.6"};
const std::string kX64Dll = peFile({0x8664, true, true, kTwo});
const ElfImage kX64So{true, 62, kNeeded};
const token::ModuleFileFacts kX64DllBare{kPe, true, 64, "x64", {}};
const token::ModuleFileFacts kX64SoBare{kElf, true, 64, "x64", {}};

INSTANTIATE_TEST_SUITE_P(
    Pe, ModuleFacts,
    ::testing::Values(
        Case{"x64Dll", kX64Dll, {kPe, true, 64, "x64", kTwo}},
        Case{"x86Dll", peFile({0x14C, false, true, {"a.dll"}}), {kPe, true, 32, "x86", {"a.dll"}}},
        Case{"arm64Program", peFile({0xAA64, true, false}), {kPe, false, 64, "arm64", {}}},
        Case{"armDll", peFile({0x1C4, false, true}), {kPe, true, 32, "arm", {}}},
        Case{"unknownMachine", peFile({0x1234, true, true}), {kPe, true, 64, "machine 0x1234", {}}},
        // The first name lies inside the part at hand, the second past its end.
        Case{"cutInsideTheNames",
             kX64Dll.substr(0, 0x500 + 20),
             {kPe, true, 64, "x64", {"libcrypto-3-x64.dll"}}},
        Case{"cutInsideTheHeader", kX64Dll.substr(0, 0x50), {kPe, false, 0, "", {}}},
        Case{"importTableOutsideEverySection",
             peFile({0x8664, true, true, kTwo}, [](PeImage& p) { p.importRva = 0x9000; }),
             kX64DllBare},
        Case{"stubWithoutPeSignature", peFile({0x8664, true, true}).substr(0, 0x40), kNothing},
        Case{"longestNameKept",
             peFile({0x8664, true, true, {std::string(255, 'n'), "b.dll"}}),
             {kPe, true, 64, "x64", {std::string(255, 'n'), "b.dll"}}},
        Case{"nameOverTheLimitLeftOut",
             peFile({0x8664, true, true, {std::string(256, 'n'), "b.dll"}}),
             {kPe, true, 64, "x64", {"b.dll"}}},
        // Past the COFF header (0x44) the optional header's magic (+20) and the number of data
        // directories (+20+108 in a 64-bit image).
        Case{"unknownOptionalHeader",
             patched(kX64Dll, 0x44 + 20, 0x999, 2),
             {kPe, true, 0, "x64", {}}},
        Case{"noImportDirectory", patched(kX64Dll, 0x44 + 20 + 108, 1, 4), kX64DllBare},
        Case{"mzWithoutZ", patched(kX64Dll, 0, 'M' | 'Q' << 8, 2), kNothing},
        Case{"elfMagicWithAWrongLetter", patched(elfFile(kX64So), 0, 0x474C457F, 4), kNothing}),
    rowName);

INSTANTIATE_TEST_SUITE_P(
    Elf, ModuleFacts,
    ::testing::Values(
        Case{"x64Library", elfFile(kX64So), {kElf, true, 64, "x64", kNeeded}},
        Case{"x86Library", elfFile({false, 3, {"a.so"}}), {kElf, true, 32, "x86", {"a.so"}}},
        Case{"bigEndianArm64",
             elfFile({true, 183, {"b.so"}}, [](ElfImage& e) { e.big = true; }),
             {kElf, true, 64, "arm64", {"b.so"}}},
        Case{"armProgram",
             elfFile({false, 40, {"c.so"}}, [](ElfImage& e) { e.type = 2; }),
             {kElf, false, 32, "arm", {"c.so"}}},
        Case{"unknownMachine", elfFile({true, 0x99}), {kElf, true, 64, "machine 0x99", {}}},
        Case{"noDynamicSegment", elfFile(kX64So, [](ElfImage& e) { e.dynamic = false; }),
             kX64SoBare},
        Case{"stringTableOutsideEverySegment",
             elfFile(kX64So, [](ElfImage& e) { e.strtabAddress = 0x9000; }), kX64SoBare},
        Case{"programHeadersTooSmall", elfFile(kX64So, [](ElfImage& e) { e.headerEntrySize = 16; }),
             kX64SoBare},
        Case{"cutInsideTheProgramHeaders", elfFile(kX64So).substr(0, 0x50), kX64SoBare},
        // The first name with its NUL lies inside the part at hand, the second past its end.
        Case{"cutInsideTheNames",
             elfFile(kX64So).substr(0, 0x300 + 16),
             {kElf, true, 64, "x64", {"libcrypto.so.3"}}},
        Case{"unknownClass", elfFile({true, 62}, [](ElfImage& e) { e.elfClass = 3; }), kNothing}),
    rowName);

TEST(PeDiagnosis, NamesTheWrongMachineAndTheMissingDependency) {
    const token::ProgramFacts program{ModuleFormat::kPe, 64, "x64"};
    const auto facts = [](const PeImage& p) { return factsOf(peFile(p)); };
    const auto onlyKernel = [](const std::string& name) { return name == "KERNEL32.dll"; };
    EXPECT_EQ(token::diagnoseLoadFailure(facts({0x14C, false, true}), program, onlyKernel),
              "module is 32-bit x86, this program is 64-bit x64");
    EXPECT_EQ(token::diagnoseLoadFailure(facts({0x8664, true, true, kTwo}), program, onlyKernel),
              "dependency not found: libcrypto-3-x64.dll");
    EXPECT_EQ(token::diagnoseLoadFailure(facts({0x8664, true, false}), program, onlyKernel),
              "not a library");
    const token::ProgramFacts linux64{ModuleFormat::kElf, 64, "x64"};
    EXPECT_EQ(token::diagnoseLoadFailure(facts({0x8664, true, true}), linux64, onlyKernel),
              "not a library");
    EXPECT_EQ(token::diagnoseLoadFailure(factsOf(kX64Dll.substr(0, 0x46)), program, onlyKernel),
              "not a library");
    // Without a way to look dependencies up, every one is reported.
    EXPECT_EQ(token::diagnoseLoadFailure(factsOf(kX64Dll), program, nullptr),
              "dependency not found: libcrypto-3-x64.dll, KERNEL32.dll");
    const std::string x86NoOptional = patched(peFile({0x14C, false, true}), 0x44 + 20, 0, 2);
    EXPECT_EQ(token::diagnoseLoadFailure(factsOf(x86NoOptional), program, onlyKernel),
              "module is x86, this program is 64-bit x64");
}

}  // namespace
