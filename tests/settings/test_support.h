// Helpers shared by the settings tests.
#pragma once

#include "settings/settings.h"

#include <cstdlib>
#include <filesystem>
#include <string>

namespace qf::testing_support {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/qf-settings-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A record where every field differs from both the blank and the default
// record, with values that need every encoding of the options file.
inline Settings Unusual() {
    Settings s = Settings::FirstStartDefaults();
    s.filterFilename = "/opt/filters/custom.fll";
    s.directory = "\"/srv/out dir/\"";
    s.firstNumber = -70000;
    s.fileNameFormat = "cv%03d.txt";
    s.startTag = std::string(255, 's');
    s.endTag = std::string(256, 'e');
    s.emailHeader = "%SUBJECT\r\n\r\nFrom: %FROM\r\n";
    s.emailFooter = "-- \r\nend\r\n";
    s.includeAttachments = false;
    s.emailsTo = Settings::kTagSubject;
    s.messageDestination = "Processed";
    s.emailsFrom = Settings::kFromFolder;
    s.messageSource = "Inbox/Jobs";
    s.reprocessEmails = true;
    s.sortOrder = 3;
    s.descending = true;
    s.readStatus = true;
    s.tagText = "[done] ";
    s.extensions = {".pdf", "", ".DOCX"};
    s.extensionActions = {"4", "3", "1"};
    s.sourceFolder.folderId.SetLength(46);
    for (size_t i = 0; i < 46; ++i) {
        s.sourceFolder.folderId.Bytes()[i] = static_cast<std::uint8_t>(i * 7 + 100);
    }
    s.sourceFolder.storeId.Assign({1, 2, 3, 255, 128, 127});
    s.destinationFolder.folderId.SetLength(30);
    s.destinationFolder.folderId.Bytes()[29] = 0xEE;
    s.destinationFolder.storeId.SetLength(300);
    s.destinationFolder.storeId.Bytes()[0] = 0x80;
    s.profile = Settings::kNamedProfile;
    s.reservedInteger = 40000;
    s.profileName = "jobs";
    s.password = "pa\"ss\\word";
    s.wordMacro = "Standard.Module1.Clean";
    s.manualFolder = "/srv/manual/";
    s.manualFormat = "%NOW_%NUMBER";
    return s;
}

} // namespace qf::testing_support
