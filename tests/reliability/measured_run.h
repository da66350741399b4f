// Runs a program as the service does (one request argument, standard output and error read
// back) and measures its peak resident set.
#pragma once

#include <json/json.h>

#include <string>
#include <utility>
#include <vector>

#include "process.h"

namespace reliability {

using MeasuredResult = testsupport::ProcessResult;

// A run through the shared runner with its peak memory measured; `env` entries ("NAME=value")
// are added to, or replace those of, this process's environment. Runs may overlap: start several
// testsupport::Process with these options, then wait for each.
inline testsupport::ProcessOptions measured(std::vector<std::string> env) {
    testsupport::ProcessOptions options;
    options.env = std::move(env);
    options.measurePeakMemory = true;
    return options;
}

inline MeasuredResult runMeasured(const std::string& program, const std::vector<std::string>& args,
                                  const std::vector<std::string>& env = {}) {
    return testsupport::runProcess(program, args, measured(env));
}

// The run's reply line as the service reads it, parsed as strict JSON into `v`: standard output
// is one line ending in LF, standard error is empty, the exit status 0. False for anything else.
bool parseReplyLine(const MeasuredResult& r, Json::Value& v);

// Open file descriptors and resident set of a live process (this one: "self").
int openFiles(const std::string& pid = "self");
long residentKb(const std::string& pid = "self");

// The process whose command line holds `needle` (for example a daemon's private folder), or "".
std::string findProcess(const std::string& needle);

}  // namespace reliability
