#include "wine_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace servicectl {
namespace wine {
namespace {

// The calls traced; everything else stays out of the (otherwise huge) relay output.
const char kRelayInclude[] =
    "user32.MessageBoxA;kernel32.CreateProcessA;kernel32.WaitForSingleObject";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes one quoted string of Wine's debug output starting at `pos` (at the opening quote).
// Returns false when the line ends before the closing quote (Wine cut a long string).
bool decodeQuoted(const std::string& line, std::size_t& pos, std::string& out) {
    out.clear();
    ++pos;
    while (pos < line.size()) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\' || pos + 1 >= line.size()) {
            out += c;
            ++pos;
            continue;
        }
        char e = line[pos + 1];
        pos += 2;
        switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'x':
                if (pos + 1 < line.size() && hexValue(line[pos]) >= 0 &&
                    hexValue(line[pos + 1]) >= 0) {
                    out += static_cast<char>(hexValue(line[pos]) * 16 + hexValue(line[pos + 1]));
                    pos += 2;
                }
                break;
            default:
                if (e >= '0' && e <= '7') {  // octal form, up to three digits
                    int value = e - '0';
                    for (int i = 0;
                         i < 2 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7'; ++i) {
                        value = value * 8 + (line[pos++] - '0');
                    }
                    out += static_cast<char>(value);
                } else {
                    out += e;  // \" and \\ stand for themselves
                }
        }
    }
    return false;
}

std::string joinPath(const std::string& a, const std::string& b) {
    return a + "/" + b;
}

bool makeDirectories(const std::string& path) {
    std::string partial;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        partial += part + "/";
        if (part.empty()) continue;
        if (mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    return true;
}

void removeTree(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return;
    if (S_ISDIR(info.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") removeTree(joinPath(path, name));
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace

std::vector<TracedCall> parseRelayTrace(const std::string& trace) {
    std::vector<TracedCall> calls;
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t colon = line.find(":Call ");
        if (colon == std::string::npos) continue;
        std::size_t nameStart = colon + 6;
        std::size_t paren = line.find('(', nameStart);
        if (paren == std::string::npos) continue;
        std::string qualified = line.substr(nameStart, paren - nameStart);
        std::size_t dot = qualified.find('.');
        if (dot == std::string::npos) continue;
        std::string function = qualified.substr(dot + 1);
        if (function != "MessageBoxA" && function != "CreateProcessA" &&
            function != "WaitForSingleObject") {
            continue;
        }
        TracedCall call;
        call.thread = line.substr(0, colon);
        call.function = function;
        call.rawArguments = line.substr(paren + 1);
        std::size_t pos = paren + 1;
        while ((pos = line.find('"', pos)) != std::string::npos) {
            std::string text;
            bool closed = decodeQuoted(line, pos, text);
            call.strings.push_back(text);
            if (!closed) {
                call.truncated = true;
                break;
            }
        }
        calls.push_back(call);
    }
    return calls;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

WinePrefix::WinePrefix() {
    char pattern[] = "/tmp/servicectl-wine-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        error_ = "cannot create a temporary folder";
        return;
    }
    root_ = pattern;
    prefix_ = root_ + "/prefix";
    if (!setUp() && error_.empty()) error_ = "prefix setup failed";
}

WinePrefix::~WinePrefix() {
    running_.clear();
    if (serverStarted_) {
        run({"wineserver", "-k"});
        run({"wineserver", "-w"});
    }
    if (!root_.empty()) removeTree(root_);
}

Environment WinePrefix::baseEnvironment() const {
    Environment env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::size_t equals = text.find('=');
        if (equals == std::string::npos) continue;
        env[text.substr(0, equals)] = text.substr(equals + 1);
    }
    // No display: message boxes return at once. A fixed English locale unless a case asks for one.
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "LC_ALL", "LC_MESSAGES", "LANGUAGE", "LC_CTYPE",
          "STANDIN_RECORD", "STANDIN_LIFETIME_MS", "STANDIN_WATCH"}) {
        env.erase(name);
    }
    env["LANG"] = "C.UTF-8";
    env["WINEPREFIX"] = prefix_;
    env["HOME"] = root_ + "/home";
    env["WINEDEBUG"] = "-all";
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml,winemenubuilder.exe=d";
    return env;
}

testsupport::ProcessResult WinePrefix::run(const std::vector<std::string>& argv,
                                           const Environment& env, int limitSeconds) {
    return starter(argv, env)->wait(limitSeconds);
}

std::unique_ptr<testsupport::Process> WinePrefix::starter(const std::vector<std::string>& argv,
                                                          const Environment& env) const {
    Environment full = baseEnvironment();
    for (const auto& entry : env) full[entry.first] = entry.second;
    testsupport::ProcessOptions options;
    options.inheritEnvironment = false;
    for (const auto& entry : full) options.env.push_back(entry.first + "=" + entry.second);
    options.searchPath = true;
    // A group of its own, so a stuck run is ended with everything Wine started for it.
    options.ownProcessGroup = true;
    return std::make_unique<testsupport::Process>(
        argv[0], std::vector<std::string>(argv.begin() + 1, argv.end()), options);
}

RunResult WinePrefix::wine(const std::vector<std::string>& args, const Environment& env,
                           int limitSeconds) {
    return waitFor(startWine(args, env), limitSeconds);
}

pid_t WinePrefix::startWine(const std::vector<std::string>& args, const Environment& env) {
    std::vector<std::string> argv = {"wine"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::unique_ptr<testsupport::Process> process = starter(argv, env);
    const pid_t pid = process->pid();
    running_[pid] = std::move(process);
    return pid;
}

RunResult WinePrefix::waitFor(pid_t pid, int limitSeconds) {
    RunResult result;
    auto found = running_.find(pid);
    if (found == running_.end()) return result;
    const testsupport::ProcessResult run = found->second->wait(limitSeconds);
    running_.erase(found);
    result.finished = run.finished;
    result.exitStatus = run.exitStatus;
    result.out = run.out;
    result.err = run.err;
    return result;
}

void WinePrefix::kill(pid_t pid) {
    running_.erase(pid);
}

std::string WinePrefix::unixPath(const std::string& windowsPath) const {
    std::string path = prefix_ + "/drive_c";
    std::string rest = windowsPath.size() > 2 ? windowsPath.substr(2) : "";
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    return path + rest;
}

bool WinePrefix::setUp() {
    if (!makeDirectories(root_ + "/home")) return false;
    if (!wine({"wineboot", "-i"}, {}, 240).finished) {
        error_ = "wineboot -i did not finish";
        return false;
    }
    // wineboot returns while the server it started still tears the prefix's services down, and
    // while that server lives no persistent one can start: every case would then start its
    // programs against services being stopped and restarted, and a child created in that window
    // dies before it runs (CreateProcessW fails with 1359), more often the slower the machine.
    // So wait for that server to end first; the prefix is then complete on disk.
    serverStarted_ = true;
    if (!run({"wineserver", "-w"}, {}, 120).finished) {
        error_ = "the server of wineboot did not end";
        return false;
    }
    // A persistent server keeps the prefix's services up between the cases, which makes each run
    // quick; the destructor stops it, and should the suite die it still ends half a minute after
    // the last program of the prefix.
    const testsupport::ProcessResult server = run({"wineserver", "-p30"});
    if (server.exitStatus != 0) {
        error_ = "no persistent wineserver: " + server.err;
        return false;
    }

    RunResult relay = wine({"reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/t",
                            "REG_SZ", "/d", kRelayInclude, "/f"});
    if (relay.exitStatus != 0) {
        error_ = "reg add RelayInclude failed: " + relay.err;
        return false;
    }

    // The desktop of a new prefix is a link to $HOME; the logs go to a folder of the test's own.
    std::string users = prefix_ + "/drive_c/users";
    std::string user;
    if (DIR* dir = opendir(users.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != ".." && name != "Public") user = name;
        }
        closedir(dir);
    }
    if (user.empty()) {
        error_ = "no user folder in the prefix";
        return false;
    }
    std::string desktop = users + "/" + user + "/Desktop";
    unlink(desktop.c_str());
    if (!makeDirectories(desktop)) return false;
    desktopWindows_ = "C:\\users\\" + user + "\\Desktop";

    // Traditional Chinese UI (zh_TW locale): Wine takes the language and code page from the locale.
    makeDirectories(localeDirectory());
    run({"localedef", "-i", "zh_TW", "-f", "UTF-8", localeDirectory() + "/zh_TW.UTF-8"});
    return true;
}

}  // namespace wine
}  // namespace servicectl
