// The x64 Windows build under Wine for the end-to-end tests: one prefix per test process, folders
// laid out as they ship (the programs with the DLLs they load beside them), and the service's way
// of starting a program (testing/wine/launch.cpp). The builds come from CARD_WIN64_BIN (the
// deliverables) and CARD_WIN64_TOOLS (test programs and the test module); CARD_WINE_CODEPAGE
// picks the ANSI code page Wine runs them under: cp1252 (LANG=C, the default) or cp950 (zh_TW).
#pragma once

#include <string>
#include <vector>

#include "process.h"
#include "wine_runner.h"

namespace winetest {

using servicectl::wine::Environment;
using servicectl::wine::RunResult;

// The prefix of this process, made at first use; fails the calling test if Wine cannot start.
servicectl::wine::WinePrefix& prefix();

// "Z:\a\b" for "/a/b": Wine's drive Z: is the Unix root.
std::string windowsPath(const std::string& unixPath);

// A folder of the prefix named `name`, holding copies of `files` (paths relative to the bin
// folder, or "tools/NAME" for the tools folder, optionally "SOURCE=TARGET" to rename). Made once
// per process; returns its Unix path.
std::string stage(const std::string& name, const std::vector<std::string>& files);

// The folder of pincheck.exe with the libcrypto DLL it ships with, and the test module's DLL
// beside them when `withModule`.
std::string pincheckFolder(bool withModule);

// The locale variables for the chosen code page.
Environment codePageEnvironment();

// `env` with the test module's script and log (P11MOCK_SCRIPT, P11MOCK_LOG, where set) named as
// the program sees them.
Environment withMockModule(Environment env = {});

// A Windows program's text-mode output with its line ends (CR LF) as LF.
std::string withoutCarriageReturns(const std::string& text);

// Runs `program` (a Unix path in a staged folder) with the arguments given byte for byte through
// the launcher, as the service starts it.
RunResult launch(const std::string& program, const std::vector<std::string>& args,
                 const Environment& env = {});
// The same, but returns once the program is started; prefix().waitFor collects it.
pid_t startLaunch(const std::string& program, const std::vector<std::string>& args,
                  const Environment& env = {});

// launch() for the test tables shared with the Linux build: each "NAME=UNIX_PATH" of `extra` (the
// traced run's file) joins `env` as NAME with the path as the program sees it.
RunResult launchForTable(const std::string& program, const std::vector<std::string>& args,
                         Environment env, const std::vector<std::string>& extra);

}  // namespace winetest
