// The maker's web addresses: the site the update check asks and the filter
// tool's download page.  Both are settings of the settings key, with the
// environment for tests and deployments:
//   "updateSite"     / QUILLFENCE_UPDATE_SITE      default kDefaultMakerSite
//   "filterToolPage" / QUILLFENCE_FILTER_TOOL_PAGE default <site>/siftloom
// docs/web.md describes them.
#pragma once

#include "platform/registry/registry.h"

#include <string>

namespace qf {

inline constexpr const char* kDefaultMakerSite = "https://www.brindlemox.com";

// The maker's site, without a trailing "/".
std::string MakerSiteAddress(registry::Registry& reg);

// The page the filter tool is downloaded from.
std::string FilterToolDownloadPage(registry::Registry& reg);

} // namespace qf
