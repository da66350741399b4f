// A program's whole writable memory looked through for a marker PIN as the process ends
// (memory_scan_preload.c): the environment entries that arm the scan, and its report.
#pragma once

#include <string>
#include <vector>

#include "temp_dir.h"

namespace testsupport {

class MemoryScan {
  public:
    explicit MemoryScan(const std::string& marker) {
        static const char kDigits[] = "0123456789abcdef";
        for (unsigned char c : marker) {
            hex_ += kDigits[c >> 4];
            hex_ += kDigits[c & 15];
        }
    }
    // Empty in a build without the scan (the sanitizers').
    static bool available() { return std::string(MEMORY_SCAN_PRELOAD).size() > 0; }
    std::vector<std::string> environment() const {
        return {"LD_PRELOAD=" MEMORY_SCAN_PRELOAD, "MEMORY_SCAN_MARKER_HEX=" + hex_,
                "MEMORY_SCAN_REPORT=" + dir_.file("report")};
    }
    // "hits N" and a line per copy found; empty when the scan did not run.
    std::string report() const { return readFile(dir_.file("report")); }

  private:
    TempDir dir_;
    std::string hex_;
};

}  // namespace testsupport
