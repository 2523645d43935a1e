#include "common/installation.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qf {

std::string InstallationFolder() {
    std::string dir;
    if (const char* home = std::getenv("QUILLFENCE_HOME"); home && *home) {
        dir = home;
    } else {
        std::error_code ec;
        auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
        dir = ec ? std::filesystem::current_path(ec).string() : exe.parent_path().string();
    }
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    return dir;
}

} // namespace qf
