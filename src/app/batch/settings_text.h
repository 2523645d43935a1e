// The settings record as text, one field per line: "name = value".
#pragma once

#include "settings/settings.h"

#include <string>
#include <string_view>

namespace qf::batch {

// Every field of the record, texts escaped as language files escape values, booleans true/false,
// identifiers in lower-case hexadecimal, lists as their CR LF text; the password masked
// ("********" when set, empty when not).
std::string DescribeSettings(const Settings& s);

} // namespace qf::batch
