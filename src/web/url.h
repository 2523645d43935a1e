// Web addresses as the web getter and the update check handle them: the
// split into host and path, the query-value encoding, and the check that an
// address taken from a server's answer is a web page and nothing else.
#pragma once

#include <string>
#include <string_view>

namespace qf::web {

// An address split the way the web getter fetches it.
struct WebUrl {
    std::string scheme = "http"; // "http" or "https"
    std::string host;            // may carry ":port"
    std::string path;            // from the first "/" on, query included; may be empty

    // scheme + "://" + host + path
    std::string Text() const;
};

// Splits `url` into host and path.  An address beginning "https://" (in any
// letter case) is fetched over TLS.  Otherwise, when the lower-cased address
// holds "http://" anywhere, its first seven characters are removed.  The host
// is the text before the first "/" (all of it when there is none), the path
// the text from that "/" on.  A host written with ":port" keeps it.
WebUrl SplitUrl(std::string_view url);

// Query-value encoding: "*", "-", ".", "_", digits and ASCII letters stay;
// every other byte becomes "%" and two lower-case hexadecimal digits.
std::string UrlEncode(std::string_view text);

// True when `address` is an absolute http or https address with a host and
// nothing that could make a desktop handler run or open anything else (no
// blanks, control characters, quotes or backslashes).
bool IsWebPageAddress(std::string_view address);

// ASCII lower case.
std::string LowerAscii(std::string_view text);

} // namespace qf::web
