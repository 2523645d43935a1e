// The completeness check of a translation against the English file.
#pragma once

#include "i18n/langfile.h"

#include <string>
#include <vector>

namespace qf {

// What `translation` lacks against `english`: every key of every English
// section must be there with a value that is not empty, and a numbered
// text must hold the same printf conversions (%s, %d ...) in the same order.
// Keys the English file does not know are reported as stale.
std::vector<std::string> CheckTranslation(const LangDocument& english,
                                          const LangDocument& translation);

} // namespace qf
