// runCarddata for the Windows build reading real (simulated) cards: carddata.exe with cardread.dll
// and the test-only winscard.dll beside it under Wine, started as the service starts it, and one
// winscard-bridge per test process making the PC/SC calls against the process's private pcscd.
// With it the Linux build's card reply table runs on the Windows build. Its requests name no
// reader: the Linux build then takes the first reader holding a card, the Windows build asks the
// card dialog, which Wine lacks (its path is covered by card-read-under-wine.sh). So a request
// without a reader name gets the first reader's, where the table's cards sit.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "carddata_run.h"
#include "process.h"
#include "traced_run.h"
#include "wine_programs.h"

namespace carddatatest {
namespace {

// Started on first use, after the shared pcscd whose socket it inherits; stopped when the test
// process ends (and by its own lifetime if the process dies first).
class BridgeHelper {
  public:
    BridgeHelper() : bridge_(start()) {
        for (int i = 0; i < 100 && port_.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::ifstream in(portFile());
            std::getline(in, port_);
        }
        EXPECT_FALSE(port_.empty()) << "winscard-bridge did not come up";
    }
    ~BridgeHelper() { bridge_.stop(SIGTERM); }
    BridgeHelper(const BridgeHelper&) = delete;
    BridgeHelper& operator=(const BridgeHelper&) = delete;

    const std::string& port() const { return port_; }

  private:
    static std::string portFile() { return winetest::prefix().root() + "/bridge.port"; }
    static testsupport::Process start() {
        pcsctest::PrivatePcscd::shared();
        std::remove(portFile().c_str());
        return testsupport::Process(WINSCARD_BRIDGE_PATH,
                                    {"--port-file", portFile(), "--lifetime", "900"});
    }

    testsupport::Process bridge_;
    std::string port_;
};

}  // namespace

pcsctest::ProgramResult runCarddata(const std::vector<std::string>& args) {
    static BridgeHelper bridge;
    std::vector<std::string> named = args;
    if (named.size() == 1 && named[0].find("\"ReaderSlot\"") == std::string::npos &&
        !named[0].empty() && named[0].back() == '}') {
        named[0].insert(
            named[0].size() - 1,
            ",\"ReaderSlot\":\"" + pcsctest::PrivatePcscd::shared().readerName(0) + "\"");
    }
    const std::string folder =
        winetest::stage("carddata-bridge", {"carddata.exe", "cardread.dll", "tools/winscard.dll"});
    auto run = [&](const std::vector<std::string>& extra) {
        return winetest::launchForTable(
            folder + "/carddata.exe", named,
            {{"WINSCARD_BRIDGE_PORT", bridge.port()},
             {"WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=d;winscard=n"}},
            extra);
    };
    return tracingRequested() ? tracedRun(named, run) : run({});
}

}  // namespace carddatatest
