// The module file diagnosis where it meets a file anyone may have put under the module's name:
// the ELF and PE header, dynamic section and import table walk over any bytes.
#include <cstddef>
#include <cstdint>

#include "module_diagnosis.h"
#include "oracle.h"

const char* const fuzzsupport::kFuzzerName = "module file fuzzer";
using fuzzsupport::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const token::ModuleFileFacts facts = token::readModuleFacts(data, size);
    require(facts.bits == 0 || facts.bits == 32 || facts.bits == 64, "word size");
    require(facts.needed.size() <= 64, "needed names bounded");
    for (const std::string& name : facts.needed)
        require(!name.empty() && name.size() <= 256, "needed name bounded");
    // Every answer of the dependency lookup, from the input's last byte.
    const bool found = size > 0 && (data[size - 1] & 1);
    const std::string diagnosis =
        token::diagnoseLoadFailure(facts, {token::ModuleFormat::kElf, 64, "x64"},
                                   [found](const std::string&) { return found; });
    require(facts.format != token::ModuleFormat::kNone || diagnosis == "not a library",
            "a file of no format is no library");
    return 0;
}
