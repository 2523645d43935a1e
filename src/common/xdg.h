// Where per-user files go, after the XDG Base Directory rules: a variable
// counts only when it names an absolute path; otherwise the folder under the
// home folder is used.
#pragma once

#include <string>

namespace qf {

// The user's home folder: $HOME when absolute, else the account's home in the
// password database, else "/".
std::string HomeFolder();

// $XDG_CONFIG_HOME, else <home>/.config.
std::string XdgConfigHome();
// $XDG_CACHE_HOME, else <home>/.cache.
std::string XdgCacheHome();
// $XDG_RUNTIME_DIR; empty when it is not set to an absolute path (there is no
// folder under the home folder with its guarantees).
std::string XdgRuntimeDir();

} // namespace qf
