#include "mock_module.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace testsupport {

const char* p11mockPath() {
    return P11MOCK_PATH;
}

MockModule::MockModule(const std::string& script) {
    script_ = dir_.file("script.txt");
    log_ = dir_.file("calls.log");
    writeFile(script_, script);
    writeFile(log_, "");
    module_ = linkModule(dir_.path(), p11mockPath());
    setenv("P11MOCK_SCRIPT", script_.c_str(), 1);
    setenv("P11MOCK_LOG", log_.c_str(), 1);
}

MockModule::~MockModule() {
    unsetenv("P11MOCK_SCRIPT");
    unsetenv("P11MOCK_LOG");
}

std::vector<std::string> MockModule::calls() const {
    std::vector<std::string> lines;
    std::istringstream in(readFile(log_));
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) lines.push_back(line);
    return lines;
}

std::vector<std::string> MockModule::callNames() const {
    std::vector<std::string> names;
    for (const auto& line : calls()) names.push_back(line.substr(0, line.find(' ')));
    return names;
}

int MockModule::count(const std::string& function) const {
    const std::vector<std::string> names = callNames();
    return static_cast<int>(std::count(names.begin(), names.end(), function));
}

void MockModule::clearLog() const {
    writeFile(log_, "");
}

}  // namespace testsupport
