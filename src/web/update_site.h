// Where the update check asks, and through what.
//
// The maker's site address is a setting (settings/maker_site.h): the text
// value "updateSite" of the settings key, overridden by the environment
// variable QUILLFENCE_UPDATE_SITE (tests and deployments), else kDefaultSite;
// the filter tool's download page is found from the same setting.  The version list is fetched
// from <site>/versions.txt; a version line without a page of its own points
// to <site>/downloads.  "updateCaFile" / QUILLFENCE_UPDATE_CA_FILE name a PEM
// file of certificate authorities to trust instead of the system's (an
// organisation's own update mirror).  The proxy values "proxy", "proxyUser"
// and "proxyPassword" are read, never written.  docs/web.md describes them.
#pragma once

#include "platform/registry/registry.h"
#include "settings/maker_site.h"

#include <string>

namespace qf::web {

inline constexpr const char* kDefaultSite = kDefaultMakerSite;

struct UpdateSite {
    std::string siteAddress = kDefaultSite; // without a trailing "/"
    std::string caFile;
    std::string proxy;
    std::string proxyUser;
    std::string proxyPassword;

    std::string DownloadsPage() const { return siteAddress + "/downloads"; }

    // The values of the settings key of `reg`, then the environment.
    static UpdateSite Load(registry::Registry& reg);
};

// The login name of the current user; empty when it cannot be found.
std::string NetUserName();

} // namespace qf::web
