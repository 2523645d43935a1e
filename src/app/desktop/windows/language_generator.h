// The English language file, written by the program's own recording: every
// window of the catalogue walked, then every numbered text of the sources.
#pragma once

#include "i18n/text_scan.h"

#include <string>
#include <vector>

namespace qf::desktop {

// The numbered texts of every .cpp and .h file under `folder`.
std::vector<NumberedText> ScanSourceTree(const std::string& folder);

// Writes the English file at `path` (named English.ini; replaced) and
// returns the texts no language file can reach (objects without a name).
std::vector<std::string> GenerateEnglishFile(const std::string& path,
                                             const std::string& sourceFolder);

// Regenerates English.ini into a scratch folder and compares: the file in
// `languagesFolder` must be identical to it, every other language file
// complete (CheckTranslation).  Returns the problems found.
std::vector<std::string> CheckLanguageFiles(const std::string& languagesFolder,
                                            const std::string& sourceFolder);

} // namespace qf::desktop
