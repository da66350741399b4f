// Where a test puts a PKCS#11 module for the program under test: a link under the plain module
// name in a folder of its own, so the loader finds that module there and nowhere else.
#pragma once

#include <string>

namespace testsupport {

// Makes `folder`/`name` a symbolic link to `target` (replacing an old one); returns its path.
std::string linkModule(const std::string& folder, const std::string& target,
                       const std::string& name = "ZarqoPKCS11.so");

}  // namespace testsupport
