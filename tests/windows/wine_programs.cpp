#include "wine_programs.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdlib>

#include "common/hex.h"

namespace winetest {

namespace {

std::string fromEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        ADD_FAILURE() << name << " is not set";
        return ".";
    }
    return value;
}

std::string hex(const std::string& bytes) {
    return common::toHex(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), '\0',
                         true);
}

}  // namespace

servicectl::wine::WinePrefix& prefix() {
    static servicectl::wine::WinePrefix shared;
    EXPECT_TRUE(shared.ok()) << shared.error();
    return shared;
}

std::string windowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string stage(const std::string& name, const std::vector<std::string>& files) {
    const std::string folder = prefix().root() + "/" + name;
    struct stat info;
    if (stat(folder.c_str(), &info) == 0) return folder;
    mkdir(folder.c_str(), 0755);
    for (const std::string& entry : files) {
        const std::size_t equals = entry.find('=');
        std::string source = entry.substr(0, equals);
        std::string target = equals == std::string::npos ? source : entry.substr(equals + 1);
        if (source.rfind("tools/", 0) == 0) {
            source = fromEnvironment("CARD_WIN64_TOOLS") + "/" + source.substr(6);
            if (equals == std::string::npos) target = target.substr(6);
        } else {
            source = fromEnvironment("CARD_WIN64_BIN") + "/" + source;
        }
        const std::string content = servicectl::wine::readFile(source);
        EXPECT_FALSE(content.empty()) << source << " is missing";
        servicectl::wine::writeFile(folder + "/" + target, content);
    }
    return folder;
}

std::string pincheckFolder(bool withModule) {
    return withModule
               ? stage("pincheck", {"pincheck.exe", "libcrypto-3-x64.dll", "tools/ZarqoPKCS11.dll"})
               : stage("pincheck-alone", {"pincheck.exe", "libcrypto-3-x64.dll"});
}

Environment codePageEnvironment() {
    const char* codePage = std::getenv("CARD_WINE_CODEPAGE");
    if (codePage != nullptr && std::string(codePage) == "cp950") {
        // Wine takes the ANSI code page from the Unix locale; the prefix compiled zh_TW.
        return {{"LANG", "zh_TW.UTF-8"}, {"LOCPATH", prefix().localeDirectory()}};
    }
    return {{"LANG", "C"}};
}

Environment withMockModule(Environment env) {
    for (const char* name : {"P11MOCK_SCRIPT", "P11MOCK_LOG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr) env[name] = windowsPath(value);
    }
    return env;
}

std::string withoutCarriageReturns(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}

RunResult launch(const std::string& program, const std::vector<std::string>& args,
                 const Environment& env) {
    RunResult result = prefix().waitFor(startLaunch(program, args, env), 120);
    EXPECT_TRUE(result.finished) << program << " did not end";
    return result;
}

pid_t startLaunch(const std::string& program, const std::vector<std::string>& args,
                  const Environment& env) {
    std::vector<std::string> argv = {stage("launcher", {"tools/launch.exe"}) + "/launch.exe",
                                     windowsPath(program)};
    for (const std::string& arg : args) argv.push_back(hex(arg));
    Environment all = codePageEnvironment();
    for (const auto& entry : env) all[entry.first] = entry.second;
    return prefix().startWine(argv, all);
}

RunResult launchForTable(const std::string& program, const std::vector<std::string>& args,
                         Environment env, const std::vector<std::string>& extra) {
    for (const std::string& entry : extra) {
        const std::size_t eq = entry.find('=');
        env[entry.substr(0, eq)] = windowsPath(entry.substr(eq + 1));
    }
    return launch(program, args, env);
}

}  // namespace winetest
