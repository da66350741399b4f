#include "wine_runner.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace servicectl {
namespace wine {
namespace {

// The calls traced and read back; everything else stays out of the (otherwise huge) relay output.
const char kRelayInclude[] =
    "user32.MessageBoxA;kernel32.CreateProcessA;kernel32.WaitForSingleObject";

// Decodes one quoted string of Wine's debug output starting at `pos` (at the opening quote).
// Returns false when the line ends before the closing quote (Wine cut a long string).
bool decodeQuoted(const std::string& line, std::size_t& pos, std::string& out) {
    out.clear();
    for (++pos; pos < line.size();) {
        const char c = line[pos++];
        if (c == '"') return true;
        if (c != '\\' || pos >= line.size()) {
            out += c;
            continue;
        }
        const char e = line[pos++];
        const std::size_t named = std::string("nrt").find(e);
        if (named != std::string::npos) {
            out += "\n\r\t"[named];
        } else if (e == 'x') {
            if (pos + 1 < line.size() && std::isxdigit(static_cast<unsigned char>(line[pos])) &&
                std::isxdigit(static_cast<unsigned char>(line[pos + 1]))) {
                out += static_cast<char>(std::stoi(line.substr(pos, 2), nullptr, 16));
                pos += 2;
            }
        } else if (e >= '0' && e <= '7') {  // octal form, up to three digits
            int value = e - '0';
            for (int i = 0; i < 2 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7'; ++i)
                value = value * 8 + (line[pos++] - '0');
            out += static_cast<char>(value);
        } else {
            out += e;  // \" and \\ stand for themselves
        }
    }
    return false;
}

}  // namespace

std::vector<TracedCall> parseRelayTrace(const std::string& trace) {
    std::vector<TracedCall> calls;
    std::istringstream lines(trace);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(":Call ");
        if (colon == std::string::npos) continue;
        const std::size_t paren = line.find('(', colon);
        const std::size_t dot = line.find('.', colon);
        if (paren == std::string::npos || dot == std::string::npos || dot > paren) continue;
        const std::string function = line.substr(dot + 1, paren - dot - 1);
        if ((std::string(kRelayInclude) + ";").find("." + function + ";") == std::string::npos)
            continue;
        TracedCall call{line.substr(0, colon), function, {}, false, line.substr(paren + 1)};
        for (std::size_t pos = paren + 1;
             !call.truncated && (pos = line.find('"', pos)) != std::string::npos;) {
            call.strings.emplace_back();
            call.truncated = !decodeQuoted(line, pos, call.strings.back());
        }
        calls.push_back(call);
    }
    return calls;
}

bool fileExists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(path, ignored);
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
    std::error_code ignored;
    if (!root_.empty()) fs::remove_all(root_, ignored);
}

testsupport::ProcessResult WinePrefix::run(const std::vector<std::string>& argv,
                                           const Environment& env, int limitSeconds) {
    return starter(argv, env)->wait(limitSeconds);
}

std::unique_ptr<testsupport::Process> WinePrefix::starter(const std::vector<std::string>& argv,
                                                          const Environment& env) const {
    Environment full = {{"LANG", "C.UTF-8"},
                        {"WINEPREFIX", prefix_},
                        {"HOME", root_ + "/home"},
                        {"WINEDEBUG", "-all"},
                        {"WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=d"}};
    for (const auto& entry : env) full[entry.first] = entry.second;
    testsupport::ProcessOptions options;
    for (const auto& entry : full) options.env.push_back(entry.first + "=" + entry.second);
    // No display: message boxes return at once. A fixed English locale unless a case asks for one.
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "LC_ALL", "LC_MESSAGES", "LANGUAGE", "LC_CTYPE",
          "STANDIN_RECORD", "STANDIN_LIFETIME_MS", "STANDIN_WATCH"}) {
        if (full.count(name) == 0) options.unset.push_back(name);
    }
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
    auto found = running_.find(pid);
    if (found == running_.end()) return RunResult();
    const RunResult result = found->second->wait(limitSeconds);
    running_.erase(found);
    return result;
}

void WinePrefix::kill(pid_t pid) {
    running_.erase(pid);
}

std::string WinePrefix::unixPath(const std::string& windowsPath) const {
    std::string rest = windowsPath.size() > 2 ? windowsPath.substr(2) : "";
    for (char& c : rest) {
        if (c == '\\') c = '/';
    }
    return prefix_ + "/drive_c" + rest;
}

bool WinePrefix::failed(const std::string& error) {
    error_ = error;
    return false;
}

bool WinePrefix::setUp() {
    std::error_code error;
    fs::create_directories(root_ + "/home", error);
    if (error) return false;
    if (!wine({"wineboot", "-i"}, {}, 240).finished) return failed("wineboot -i did not finish");
    // wineboot returns while the server it started still tears the prefix's services down, and
    // while that server lives no persistent one can start: every case would then start its
    // programs against services being stopped and restarted, and a child created in that window
    // dies before it runs (CreateProcessW fails with 1359), more often the slower the machine.
    // So wait for that server to end first; the prefix is then complete on disk.
    serverStarted_ = true;
    if (!run({"wineserver", "-w"}, {}, 120).finished) {
        return failed("the server of wineboot did not end");
    }
    // A persistent server keeps the prefix's services up between the cases, which makes each run
    // quick; the destructor stops it, and should the suite die it still ends half a minute after
    // the last program of the prefix.
    const testsupport::ProcessResult server = run({"wineserver", "-p30"});
    if (server.exitStatus != 0) return failed("no persistent wineserver: " + server.err);

    RunResult relay = wine({"reg", "add", "HKCU\\Software\\Wine\\Debug", "/v", "RelayInclude", "/t",
                            "REG_SZ", "/d", kRelayInclude, "/f"});
    if (relay.exitStatus != 0) return failed("reg add RelayInclude failed: " + relay.err);

    // The desktop of a new prefix is a link to $HOME; the logs go to a folder of the test's own.
    std::string user;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(prefix_ + "/drive_c/users", error)) {
        if (entry.path().filename() != "Public") user = entry.path().filename();
    }
    if (user.empty()) return failed("no user folder in the prefix");
    const std::string desktop = prefix_ + "/drive_c/users/" + user + "/Desktop";
    unlink(desktop.c_str());
    fs::create_directories(desktop, error);
    if (error) return false;
    desktopWindows_ = "C:\\users\\" + user + "\\Desktop";

    // Traditional Chinese UI (zh_TW locale): Wine takes the language and code page from the locale.
    fs::create_directories(localeDirectory(), error);
    run({"localedef", "-i", "zh_TW", "-f", "UTF-8", localeDirectory() + "/zh_TW.UTF-8"});
    return true;
}

}  // namespace wine
}  // namespace servicectl
