// runPincheck for the Windows build: pincheck.exe under Wine, started through the launcher as the
// service starts it, in a folder where the DLL search order finds what ships beside it. The
// Linux build's table (pincheck_e2e_test.cpp) runs unchanged on top of it.
#include <cstdio>
#include <cstdlib>

#include "run_pincheck.h"
#include "wine_programs.h"

namespace pinchecktest {

RunResult runPincheck(const std::vector<std::string>& args, const std::string& libraryPath,
                      bool /*moduleStaysBound*/) {
    // The Linux tests hand over the folder of the module under its plain name, or one without
    // it; the Windows program finds the test module's DLL beside itself, or nothing.
    const bool withModule = servicectl::wine::fileExists(libraryPath + "/ZarqoPKCS11.so");
    const std::string folder = winetest::pincheckFolder(withModule);
    winetest::Environment env = winetest::withMockModule();
    const auto launch = [&] {
        const winetest::RunResult run = winetest::launch(folder + "/pincheck.exe", args, env);
        return RunResult{run.out, run.err, run.finished ? run.exitStatus : -1};
    };
    const RunResult plain = launch();
    if (std::getenv("CARD_TEST_TRACE")) {
        // Switched on as the troubleshooting mode does: the trace file on the user's desktop.
        servicectl::wine::WinePrefix& prefix = winetest::prefix();
        const std::string trace =
            prefix.unixPath(prefix.desktopWindows()) + "/CardProgramsTrace.jsonl";
        testsupport::writeFile(trace, "");
        env["P11MOCK_LOG"] = "";
        expectSameRunTraced(args, plain, launch(), trace);
        std::remove(trace.c_str());
    }
    return plain;
}

}  // namespace pinchecktest
