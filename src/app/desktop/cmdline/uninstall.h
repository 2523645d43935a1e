// What the program stored for the user, and its removal: the program's key
// in the registry file (settings, window values and placements) and the
// cache of the document converter.  Mail, text files, options files and the
// logon profiles are the user's own and are never touched.
#pragma once

#include "platform/registry/registry.h"

#include <string>
#include <vector>

namespace qf::desktop {

struct UserDataPlaces {
    std::string registryFile; // shown in the report
    std::string cacheFolder;  // $XDG_CACHE_HOME/quillfence; empty: none
    // The places of the running program (registry::DefaultRegistryPath and
    // the converter's cache folder).
    static UserDataPlaces ForThisUser();
};

// Removes what the program stored and returns one line per thing removed.
// Throws qf::Error when the registry cannot be written.
std::vector<std::string> RemoveUserData(registry::Registry& reg, const UserDataPlaces& places);

// The message that tells the person what was removed.
std::string UninstallReport(const std::vector<std::string>& removed);

} // namespace qf::desktop
