// runCarddata for the Windows build: carddata.exe with cardread.dll beside it under Wine, started
// as the service starts it. Wine's smart-card service is a stub, so no card is ever reached.
#include "carddata_run.h"
#include "traced_run.h"
#include "wine_programs.h"

namespace carddatatest {

pcsctest::ProgramResult runCarddata(const std::vector<std::string>& args) {
    const std::string folder = winetest::stage("carddata", {"carddata.exe", "cardread.dll"});
    auto run = [&](const std::vector<std::string>& extra) {
        return winetest::launchForTable(folder + "/carddata.exe", args, {}, extra);
    };
    return tracingRequested() ? tracedRun(args, run) : run({});
}

}  // namespace carddatatest
