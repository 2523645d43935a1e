// The maker's version list and what the update check makes of it.
//
// The list is plain text, one product per line (CR LF, LF or CR end a line):
//   name,stamp,page,label
// with no quoting.  `stamp` is the newest release's moment as a day number
// (days since 30 December 1899, the fraction the time of day); `page` the
// address of the page that describes it; `label` its version label.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qf::web {

// This release: "Quillfence Pro" 3.2, made on 2 April 2015 at 16:56:27.
inline constexpr double kReleaseStamp = 42096.7058773032;

// The lines of `text`.
std::vector<std::string> SplitLines(std::string_view text);

// The first line holding "," whose text before the first "," equals
// `productTitle` regardless of letter case.
std::optional<std::string> FindProductLine(std::string_view text, std::string_view productTitle);

// A decimal number with "." as the decimal point: optional leading blanks,
// an optional sign, digits, an optional fraction, an optional exponent, and
// nothing after.  Nothing when `text` is not such a number.
std::optional<double> ParseStamp(std::string_view text);

struct VersionLine {
    // The stamp field as it stands; "0" when missing or empty.
    std::string stampText;
    // Nothing when stampText is not a number.
    std::optional<double> stamp;
    // `downloadsPage` when missing or empty.
    std::string page;
    // "Unknown" when missing or empty.
    std::string label;
};

VersionLine ParseVersionLine(std::string_view line, std::string_view downloadsPage);

// True when `stamp` lies more than one second after `releaseStamp`.
bool IsNewerRelease(double stamp, double releaseStamp = kReleaseStamp);

// What the product's values add to an address: "application=<title>&ver=
// <version>&source=updater", each value encoded with UrlEncode.
std::string UpdateParameters(std::string_view productTitle, std::string_view version);

// `page` + ("&" when it holds "?", else "?") + UpdateParameters.
std::string PageWithParameters(std::string_view page, std::string_view productTitle,
                               std::string_view version);

// The address of the version list on the site at `siteAddress`:
// site + "/versions.txt?name=<user>&" + UpdateParameters.
std::string VersionListUrl(std::string_view siteAddress, std::string_view netUserName,
                           std::string_view productTitle, std::string_view version);

// What an answer of the maker's site says about this release.
struct UpdateFinding {
    enum class Kind {
        NotFound,       // no line for the product (an empty answer or an error page too)
        InvalidStamp,   // the product's stamp is not a number: see stampText
        UpToDate,       // the stamp lies at most one second after this release
        NewerAvailable, // see label and page
    };
    Kind kind = Kind::NotFound;
    std::string stampText;
    std::string label;
    // The page with the product's parameters added.
    std::string page;
};

UpdateFinding ReadVersionAnswer(std::string_view answer, std::string_view productTitle,
                                std::string_view version, std::string_view downloadsPage,
                                double releaseStamp = kReleaseStamp);

} // namespace qf::web
