// The user's own Basic macros, as LibreOffice keeps them in a profile's
// "basic" folder: a folder per library holding script.xlb, and a module file
// (.xba) per module.  A started instance has a private profile with only
// LibreOffice's defaults; these are put into it so the user's macro runs there.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qf::wordproc {

struct BasicModule {
    std::string library;
    std::string module;
    std::string source;
};

// $XDG_CONFIG_HOME/libreoffice/4/user/basic (~/.config/...).
std::string DefaultUserMacros();

// The Basic source in the XML of a module file; nothing when the file is not
// a module or holds an entity this reader does not know.
std::optional<std::string> BasicModuleSource(const std::string& xml);

// Every module of every library under `folder` (a library is a folder with a
// script.xlb).  A module that cannot be read is left out: its macros are then
// reported missing when called.  No folder, no modules.
std::vector<BasicModule> ReadUserMacros(const std::string& folder);

} // namespace qf::wordproc
