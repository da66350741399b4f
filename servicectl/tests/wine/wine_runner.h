// Runs Windows programs under Wine in a private prefix for the end-to-end tests, and reads back
// what they did from Wine's relay trace: message boxes, process creations and waits, per thread.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "process.h"

namespace servicectl {
namespace wine {

// One traced call of interest, with its string arguments decoded to the bytes the program passed.
struct TracedCall {
    std::string thread;
    std::string function;  // "MessageBoxA", "CreateProcessA" or "WaitForSingleObject"
    std::vector<std::string> strings;
    bool truncated = false;  // Wine cut the line; the last string is a prefix only
    std::string rawArguments;
};

// The calls of the relay trace, in trace order.
std::vector<TracedCall> parseRelayTrace(const std::string& trace);

// `finished` false: it did not end within the limit and was killed.
using RunResult = testsupport::ProcessResult;

using Environment = std::map<std::string, std::string>;

class WinePrefix {
  public:
    // Creates the prefix and its folders under a new temporary folder; `ok()` tells the outcome.
    WinePrefix();
    // Kills the wineserver of the prefix and removes the temporary folder.
    ~WinePrefix();
    WinePrefix(const WinePrefix&) = delete;
    WinePrefix& operator=(const WinePrefix&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // Unix path of a Windows path on drive C: ("C:\\a\\b" -> "<prefix>/drive_c/a/b").
    std::string unixPath(const std::string& windowsPath) const;
    const std::string& desktopWindows() const { return desktopWindows_; }
    const std::string& root() const { return root_; }

    // Runs `wine args...` to its end (or the limit), with `env` over the prefix's environment.
    RunResult wine(const std::vector<std::string>& args, const Environment& env = {},
                   int limitSeconds = 120);
    // Starts `wine args...` in the background; the caller waits for or kills the returned process.
    pid_t startWine(const std::vector<std::string>& args, const Environment& env = {});
    // Waits for a background process; kills it when the limit passes.
    RunResult waitFor(pid_t pid, int limitSeconds);
    // Ends a background process started here and reaps it.
    void kill(pid_t pid);

    std::string localeDirectory() const { return root_ + "/locale"; }

  private:
    // Runs a Linux program (wineserver, localedef) in the prefix's environment to its end.
    testsupport::ProcessResult run(const std::vector<std::string>& argv,
                                   const Environment& env = {}, int limitSeconds = 0);
    std::unique_ptr<testsupport::Process> starter(const std::vector<std::string>& argv,
                                                  const Environment& env) const;
    bool setUp();
    bool failed(const std::string& error);

    std::string root_;
    std::string prefix_;
    std::string desktopWindows_;
    std::string error_;
    bool serverStarted_ = false;
    std::map<pid_t, std::unique_ptr<testsupport::Process>> running_;
};

using testsupport::readFile;
using testsupport::writeFile;
bool fileExists(const std::string& path);

}  // namespace wine
}  // namespace servicectl
