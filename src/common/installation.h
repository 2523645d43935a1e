// The installation folder: the folder that holds the running executable.
#pragma once

#include <string>

namespace qf {

inline constexpr const char* kProductTitle = "Quillfence Pro";
inline constexpr const char* kProductVersion = QF_PRODUCT_VERSION;

// Full path of the installation folder, always ending in "/".  Tests and
// tools may override it with QUILLFENCE_HOME.
std::string InstallationFolder();

} // namespace qf
