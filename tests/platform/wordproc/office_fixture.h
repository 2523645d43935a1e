// Documents made for the tests by LibreOffice itself, in a temp folder of
// the test: the same text as HTML, .odt, .doc, .docx and .rtf, and
// password-protected .odt, .doc and .docx.
#pragma once

#include "platform/wordproc/libreoffice.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>

namespace qf::wordproc::testing {

namespace fs = std::filesystem;

// Words every fixture document holds (one in a table cell).
inline constexpr const char* kBodyWords = "Jürgen Smith, Senior Engineer";
inline constexpr const char* kCellWords = "Cell beta";
inline constexpr const char* kFixturePassword = "secret42";

// A fresh temp folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// Options for an instance private to the test: profile inside `dir`.
LibreOfficeOptions TestOptions(const fs::path& dir);

// Writes the fixture documents into `dir` (converting through `office`) and
// returns them by name: "html", "odt", "doc", "docx", "rtf", "odt-password",
// "doc-password", "docx-password".
std::map<std::string, fs::path> MakeDocuments(LibreOffice& office, const fs::path& dir);

// Whether any LibreOffice lock file (".~lock.*#") is in `dir`.
bool HasLockFiles(const fs::path& dir);

void WriteFile(const fs::path& path, const std::string& bytes);

} // namespace qf::wordproc::testing
