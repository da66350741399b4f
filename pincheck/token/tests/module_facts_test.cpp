// The module file diagnosis over Windows images: the PE header parser runs on every platform,
// but only a Windows build meets real DLLs, so these images are built here byte by byte.
#include <gtest/gtest.h>

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
    std::vector<std::string> imports;
    std::uint32_t importRva = 0x1000;  // where the descriptors are; the one section starts there
    std::size_t keep = std::string::npos;  // cut the file here
};

void put(std::string& image, std::size_t at, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) image[at + i] = static_cast<char>(value >> (8 * i));
}

// DOS stub, "PE\0\0", COFF header, optional header, one section at RVA 0x1000 (file offset
// 0x400) holding the import descriptors and, at 0x1100, the names they point to.
std::string build(const PeImage& pe) {
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
    return image.substr(0, pe.keep);
}

struct Case {
    const char* name;
    PeImage pe;
    ModuleFormat format;
    bool library;
    int bits;
    const char* machine;
    std::vector<std::string> needed;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class PeFacts : public ::testing::TestWithParam<Case> {};

TEST_P(PeFacts, AreReadFromTheHeaderAndTheImportTable) {
    const Case& c = GetParam();
    const std::string image = build(c.pe);
    const token::ModuleFileFacts facts =
        token::readModuleFacts(reinterpret_cast<const unsigned char*>(image.data()), image.size());
    EXPECT_EQ(facts.format, c.format);
    EXPECT_EQ(facts.library, c.library);
    EXPECT_EQ(facts.bits, c.bits);
    EXPECT_EQ(facts.machine, c.machine);
    EXPECT_EQ(facts.needed, c.needed);
}

PeImage pe(std::uint16_t machine, bool wide, bool dll, std::vector<std::string> imports = {}) {
    PeImage p;
    p.machine = machine;
    p.wide = wide;
    p.dll = dll;
    p.imports = std::move(imports);
    return p;
}

PeImage cut(PeImage p, std::size_t keep) {
    p.keep = keep;
    return p;
}

PeImage importsAt(PeImage p, std::uint32_t rva) {
    p.importRva = rva;
    return p;
}

const std::vector<std::string> kTwo = {"libcrypto-3-x64.dll", "KERNEL32.dll"};

INSTANTIATE_TEST_SUITE_P(
    Images, PeFacts,
    ::testing::Values(
        Case{"x64Dll", pe(0x8664, true, true, kTwo), ModuleFormat::kPe, true, 64, "x64", kTwo},
        Case{"x86Dll",
             pe(0x14C, false, true, {"a.dll"}),
             ModuleFormat::kPe,
             true,
             32,
             "x86",
             {"a.dll"}},
        Case{"arm64Program", pe(0xAA64, true, false), ModuleFormat::kPe, false, 64, "arm64", {}},
        Case{"armDll", pe(0x1C4, false, true), ModuleFormat::kPe, true, 32, "arm", {}},
        Case{"unknownMachine",
             pe(0x1234, true, true),
             ModuleFormat::kPe,
             true,
             64,
             "machine 0x1234",
             {}},
        // The first name lies inside the part at hand, the second past its end.
        Case{"cutInsideTheNames",
             cut(pe(0x8664, true, true, kTwo), 0x500 + 20),
             ModuleFormat::kPe,
             true,
             64,
             "x64",
             {"libcrypto-3-x64.dll"}},
        Case{"cutInsideTheHeader",
             cut(pe(0x8664, true, true, kTwo), 0x50),
             ModuleFormat::kPe,
             false,
             0,
             "",
             {}},
        Case{"importTableOutsideEverySection",
             importsAt(pe(0x8664, true, true, kTwo), 0x9000),
             ModuleFormat::kPe,
             true,
             64,
             "x64",
             {}},
        Case{"stubWithoutPeSignature",
             cut(pe(0x8664, true, true), 0x40),
             ModuleFormat::kNone,
             false,
             0,
             "",
             {}}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(PeDiagnosis, NamesTheWrongMachineAndTheMissingDependency) {
    const token::ProgramFacts program{ModuleFormat::kPe, 64, "x64"};
    auto facts = [](const PeImage& p) {
        const std::string image = build(p);
        return token::readModuleFacts(reinterpret_cast<const unsigned char*>(image.data()),
                                      image.size());
    };
    const auto onlyKernel = [](const std::string& name) { return name == "KERNEL32.dll"; };
    EXPECT_EQ(token::diagnoseLoadFailure(facts(pe(0x14C, false, true)), program, onlyKernel),
              "module is 32-bit x86, this program is 64-bit x64");
    EXPECT_EQ(token::diagnoseLoadFailure(facts(pe(0x8664, true, true, kTwo)), program, onlyKernel),
              "dependency not found: libcrypto-3-x64.dll");
    EXPECT_EQ(token::diagnoseLoadFailure(facts(pe(0x8664, true, false)), program, onlyKernel),
              "not a library");
    const token::ProgramFacts linux64{ModuleFormat::kElf, 64, "x64"};
    EXPECT_EQ(token::diagnoseLoadFailure(facts(pe(0x8664, true, true)), linux64, onlyKernel),
              "not a library");
}

}  // namespace
