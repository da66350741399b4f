// The scriptable PKCS#11 test module, set up for one test: the script is written to a private
// folder, P11MOCK_SCRIPT and P11MOCK_LOG point at it (the module reads them at load), and the
// folder holds the module under the plain name ZarqoPKCS11.so, ready for LD_LIBRARY_PATH.
// The environment is restored when the object ends. Script format: testing/p11mock/README.md.
#pragma once

#include <string>
#include <vector>

#include "temp_dir.h"

namespace testsupport {

// The built test module (the p11mock target's file).
const char* p11mockPath();

class MockModule {
  public:
    explicit MockModule(const std::string& script);
    ~MockModule();
    MockModule(const MockModule&) = delete;
    MockModule& operator=(const MockModule&) = delete;

    // The module under its plain name, and the folder that holds it.
    const std::string& path() const { return module_; }
    const std::string& folder() const { return dir_.path(); }
    const std::string& logPath() const { return log_; }

    // Log lines in the order the module received the calls, e.g.
    // "C_Login session=1 user=1 length=4 pin=1234 -> 0xA0".
    std::vector<std::string> calls() const;
    // Just the function names, in order.
    std::vector<std::string> callNames() const;
    int count(const std::string& function) const;
    void clearLog() const;

  private:
    TempDir dir_;
    std::string script_;
    std::string log_;
    std::string module_;
};

}  // namespace testsupport
