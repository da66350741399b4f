#include "module_link.h"

#include <filesystem>

namespace testsupport {

std::string linkModule(const std::string& folder, const std::string& target,
                       const std::string& name) {
    const std::string link = folder + "/" + name;
    std::error_code ignored;
    std::filesystem::remove(link, ignored);
    std::filesystem::create_symlink(target, link);
    return link;
}

}  // namespace testsupport
