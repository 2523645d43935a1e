// Address lists and dates of message headers.
//
// GMime 3.2.13 loses the addresses after a ";" in an address list: a ";" outside
// quotes, comments and groups is read as ",".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qf::mapi::mime {

// (display name, address) of every mailbox in a raw address list, groups opened.
std::vector<std::pair<std::string, std::string>> ParseAddresses(std::string_view raw);
// The display names (or, without one, the addresses) joined by "; "; the decoded
// text itself when no address can be read from it.
std::string DisplayList(std::string_view raw);
// A date header in seconds since 1970 UTC, or nothing when it does not parse.
std::optional<std::int64_t> ParseDate(std::string_view raw);

} // namespace qf::mapi::mime
