// Runs a program as the service does (one request argument, standard output and error read
// back) and measures it: its peak resident set, taken by a small launcher (peak_rss_run.c) from
// the kernel's accounting of the child. Runs may overlap: start several, then wait for each.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace reliability {

struct MeasuredResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // -1: died of a signal (or could not be started)
    long peakRssKb = 0;
};

class MeasuredRun {
public:
    // `env` entries ("NAME=value") are added to, or replace those of, this process's environment;
    // a "NAME=" entry with nothing after the sign removes NAME.
    MeasuredRun(const std::string& program, const std::vector<std::string>& args,
                const std::vector<std::string>& env = {});
    ~MeasuredRun();
    MeasuredRun(const MeasuredRun&) = delete;
    MeasuredRun& operator=(const MeasuredRun&) = delete;

    MeasuredResult wait();

private:
    std::string dir_;
    pid_t pid_ = -1;
};

inline MeasuredResult runMeasured(const std::string& program, const std::vector<std::string>& args,
                                  const std::vector<std::string>& env = {}) {
    return MeasuredRun(program, args, env).wait();
}

// Open file descriptors and resident set of a live process (this one: "self").
int openFiles(const std::string& pid = "self");
long residentKb(const std::string& pid = "self");

// The process whose command line holds `needle` (for example a daemon's private folder), or "".
std::string findProcess(const std::string& needle);

}  // namespace reliability
