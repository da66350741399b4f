#include "measured_run.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "temp_dir.h"

namespace reliability {

int openFiles(const std::string& pid) {
    DIR* d = opendir(("/proc/" + pid + "/fd").c_str());
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - (pid == "self" ? 1 : 0);  // the listing's own descriptor
}

long residentKb(const std::string& pid) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

std::string findProcess(const std::string& needle) {
    DIR* d = opendir("/proc");
    if (!d) return "";
    std::string found;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
        std::string cmdline = testsupport::readFile(std::string("/proc/") + e->d_name + "/cmdline");
        for (char& c : cmdline)
            if (c == '\0') c = ' ';
        // The daemon itself, not the shell or unshare that started it.
        if (cmdline.find(needle) != std::string::npos && cmdline.rfind("pcscd", 0) == 0) {
            found = e->d_name;
            break;
        }
    }
    closedir(d);
    return found;
}

bool parseReplyLine(const MeasuredResult& r, Json::Value& v) {
    const std::string& out = r.out;
    if (r.exitStatus != 0 || !r.err.empty() || out.empty() || out.back() != '\n' ||
        out.find('\n') != out.size() - 1)
        return false;
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::string errors;
    return reader->parse(out.data(), out.data() + out.size() - 1, &v, &errors) && v.isObject();
}

}  // namespace reliability
