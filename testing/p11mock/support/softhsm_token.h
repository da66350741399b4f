// SoftHSM2 as a real third-party PKCS#11 module for tests: a private token folder and
// configuration (SOFTHSM2_CONF points at it while the object lives) with tokens made by
// softhsm2-util. SoftHSM always lists one slot more than it has tokens: the last slot holds an
// uninitialised token that reports CKF_TOKEN_PRESENT but cannot be opened.
#pragma once

#include <string>

#include "temp_dir.h"

namespace testsupport {

class SoftHsmToken {
  public:
    static constexpr const char* kModule = "/usr/lib/softhsm/libsofthsm2.so";

    // Makes the folder and one token; throws std::runtime_error when softhsm2-util fails.
    explicit SoftHsmToken(const std::string& label = "test token", const std::string& pin = "1234",
                          const std::string& soPin = "5678");
    ~SoftHsmToken();
    SoftHsmToken(const SoftHsmToken&) = delete;
    SoftHsmToken& operator=(const SoftHsmToken&) = delete;

    // Another token in the next free slot.
    void addToken(const std::string& label, const std::string& pin, const std::string& soPin);

    // A folder holding SoftHSM under the plain name ZarqoPKCS11.so, for LD_LIBRARY_PATH.
    std::string moduleFolder();
    // Runs softhsm2-util, or another tool such as pkcs11-tool, with SOFTHSM2_CONF set and its
    // output dropped; returns its exit status (-1 when it died of a signal).
    int run(const std::string& program, const std::initializer_list<std::string>& args) const;

  private:
    TempDir dir_;
    std::string conf_;
    std::string previousConf_;
    bool hadConf_ = false;
};

}  // namespace testsupport
