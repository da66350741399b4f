// A private temporary folder for one test, removed with everything in it when the owner ends,
// and the files a test puts there.
#pragma once

#include <string>

namespace testsupport {

class TempDir {
  public:
    // Made under $TMPDIR (or /tmp) with a unique name; throws std::runtime_error on failure.
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Writes bytes to a file, replacing it; throws std::runtime_error on failure.
void writeFile(const std::string& path, const std::string& bytes);
// The whole file, or an empty text when it does not exist.
std::string readFile(const std::string& path);
// Makes `folder`/`name` a symbolic link to `target`, replacing an old one; returns its path. A
// test puts a PKCS#11 module there under the plain module name, so that the loader finds that
// module and no other.
std::string linkModule(const std::string& folder, const std::string& target,
                       const std::string& name = "ZarqoPKCS11.so");

}  // namespace testsupport
