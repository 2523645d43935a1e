#include "office_fixture.h"

#include "common/fileio.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>

namespace qf::wordproc::testing {

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "qf-wordproc-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

LibreOfficeOptions TestOptions(const fs::path& dir) {
    LibreOfficeOptions o;
    o.profileParent = (dir / "profiles").string();
    return o;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::map<std::string, fs::path> MakeDocuments(LibreOffice& office, const fs::path& dir) {
    std::map<std::string, fs::path> docs;
    fs::path html = dir / "cv.html";
    WriteFile(html, std::string("<html><head><meta charset=\"utf-8\"><title>CV</title></head>"
                                "<body><h1>Curriculum vitae</h1><p>") +
                        kBodyWords + "</p><table><tr><td>Cell alpha</td><td>" + kCellWords +
                        "</td></tr></table></body></html>\n");
    docs["html"] = html;

    // HTML opens as a web page; as a text document it comes from the
    // command-line converter with the Writer HTML import filter.
    fs::path converted = dir / "converted";
    std::string command = "cd '" + dir.string() +
                          "' && timeout 120 soffice --headless --norestore "
                          "-env:UserInstallation=file://" +
                          (dir / "convert-profile").string() +
                          " --infilter='HTML (StarWriter)' --convert-to odt --outdir '" +
                          converted.string() + "' cv.html >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0 || !fs::exists(converted / "cv.odt")) {
        throw std::runtime_error("soffice --convert-to odt failed");
    }
    fs::path odt = dir / "cv.odt";
    fs::rename(converted / "cv.odt", odt);
    docs["odt"] = odt;

    DocumentId doc = office.Open(odt.string(), "tqmzv", "tqmzv");
    const std::pair<const char*, const char*> formats[] = {
        {"doc", "MS Word 97"}, {"docx", "MS Word 2007 XML"}, {"rtf", "Rich Text Format"}};
    for (const auto& [ext, filter] : formats) {
        fs::path out = dir / (std::string("cv.") + ext);
        office.StoreCopy(doc, out.string(), filter);
        docs[ext] = out;
    }
    const std::pair<const char*, const char*> locked[] = {
        {"odt", "writer8"}, {"doc", "MS Word 97"}, {"docx", "MS Word 2007 XML"}};
    for (const auto& [ext, filter] : locked) {
        fs::path out = dir / (std::string("locked.") + ext);
        office.StoreCopy(doc, out.string(), filter, kFixturePassword);
        docs[std::string(ext) + "-password"] = out;
    }
    office.Close(doc);
    return docs;
}

bool HasLockFiles(const fs::path& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        std::string name = e.path().filename().string();
        if (name.rfind(".~lock.", 0) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace qf::wordproc::testing
