// The pincheck program and the shared library libtokenapi export exactly the token API's
// seventeen functions by name; the library's carry its version node.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "process.h"

namespace {

const std::set<std::string> kApi = {
    "InitLibrary",    "CloseLibrary",  "GetLibraryDesc",       "GetSlotID",  "GetSlotDesc",
    "IsTokenPresent", "GetTokenLabel", "GetTokenSerialNumber", "LoginToken", "LogoutToken",
    "GetKeyNum",      "GetKeyID",      "GetCertNum",           "GetCertID",  "GetCert",
    "GetKey",         "FreeKey"};

// The defined functions of the dynamic symbol table, with their version suffix ("@@NODE") if any.
std::set<std::string> dynamicFunctions(const std::string& file, std::string* output) {
    testsupport::ProcessOptions options;
    options.searchPath = true;
    const testsupport::ProcessResult run =
        testsupport::runProcess("nm", {"-D", "--defined-only", file}, options);
    *output += run.out + run.err;
    std::set<std::string> functions;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        char type = 0;
        char name[400];
        // "0000000000012345 T InitLibrary"
        if (std::sscanf(line.c_str(), "%*s %c %399s", &type, name) == 2 &&
            (type == 'T' || type == 'W'))
            functions.insert(name);
    }
    if (run.exitStatus != 0) *output += "(nm failed)";
    return functions;
}

TEST(TokenApiExports, ExactlyTheSeventeenApiFunctions) {
    struct Case {
        const char* what;
        std::string file;
        std::string suffix;
    };
    const Case cases[] = {
        {"pincheck", PINCHECK_PATH, ""},
        {"libtokenapi", TOKENAPI_PATH, "@@TOKENAPI_1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string output;
        const std::set<std::string> functions = dynamicFunctions(c.file, &output);
        std::set<std::string> expected;
        for (const std::string& name : kApi) expected.insert(name + c.suffix);
        EXPECT_EQ(functions, expected) << output;
    }
}

}  // namespace
