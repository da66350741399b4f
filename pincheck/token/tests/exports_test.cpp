// The pincheck program exports exactly the token API's seventeen functions by name.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

namespace {

TEST(PincheckExports, ExactlyTheSeventeenApiFunctions) {
    const std::string program = PINCHECK_PATH;
    if (program.empty()) GTEST_SKIP() << "the pincheck program is not part of this build";
    const std::string command = "nm -D --defined-only '" + program + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> functions;
    std::string output;
    char line[512];
    while (std::fgets(line, sizeof line, pipe)) {
        output += line;
        char type = 0;
        char name[400];
        // "0000000000012345 T InitLibrary"
        if (std::sscanf(line, "%*s %c %399s", &type, name) == 2 && (type == 'T' || type == 'W'))
            functions.insert(name);
    }
    ASSERT_EQ(pclose(pipe), 0) << output;
    const std::set<std::string> expected = {
        "InitLibrary",    "CloseLibrary",  "GetLibraryDesc",       "GetSlotID",  "GetSlotDesc",
        "IsTokenPresent", "GetTokenLabel", "GetTokenSerialNumber", "LoginToken", "LogoutToken",
        "GetKeyNum",      "GetKeyID",      "GetCertNum",           "GetCertID",  "GetCert",
        "GetKey",         "FreeKey"};
    EXPECT_EQ(functions, expected) << output;
}

}  // namespace
