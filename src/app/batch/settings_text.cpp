#include "app/batch/settings_text.h"

#include "i18n/escape.h"

namespace qf::batch {

namespace {

std::string Hex(const EntryId& id) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : id.Bytes()) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

class Lines {
public:
    void Text(std::string_view name, std::string_view value) { Add(name, EscapeText(value)); }
    void Int(std::string_view name, std::int64_t value) { Add(name, std::to_string(value)); }
    void Bool(std::string_view name, bool value) { Add(name, value ? "true" : "false"); }
    void Id(std::string_view name, const EntryId& id) { Add(name, Hex(id)); }
    std::string out;

private:
    void Add(std::string_view name, const std::string& value) {
        out.append(name);
        out += " = ";
        out += value;
        out += '\n';
    }
};

} // namespace

std::string DescribeSettings(const Settings& s) {
    Lines l;
    l.Int("formatVersion", s.formatVersion);
    l.Text("optionsFilePath", s.optionsFilePath);
    l.Text("filterFilename", s.filterFilename);
    l.Text("Directory", s.directory);
    l.Int("firstNumber", s.firstNumber);
    l.Text("FileNameFormat", s.fileNameFormat);
    l.Text("startTag", s.startTag);
    l.Text("endTag", s.endTag);
    l.Text("emailHeader", s.emailHeader);
    l.Text("emailFooter", s.emailFooter);
    l.Bool("includeAttachments", s.includeAttachments);
    l.Int("emailsTo", s.emailsTo);
    l.Text("messageDestination", s.messageDestination);
    l.Int("emailsFrom", s.emailsFrom);
    l.Text("messageSource", s.messageSource);
    l.Bool("reprocessEmails", s.reprocessEmails);
    l.Int("sortOrder", s.sortOrder);
    l.Bool("descending", s.descending);
    l.Bool("readStatus", s.readStatus);
    l.Text("tagText", s.tagText);
    l.Text("extensions", JoinLines(s.extensions));
    l.Text("extensionActions", JoinLines(s.extensionActions));
    l.Id("sourceFolder.folderId", s.sourceFolder.folderId);
    l.Id("sourceFolder.storeId", s.sourceFolder.storeId);
    l.Id("destinationFolder.folderId", s.destinationFolder.folderId);
    l.Id("destinationFolder.storeId", s.destinationFolder.storeId);
    l.Int("Profile", s.profile);
    l.Int("reservedInteger", s.reservedInteger);
    l.Text("profileName", s.profileName);
    // The password is never shown: only whether one is set.
    l.Text("password", s.password.empty() ? "" : "********");
    l.Text("wordMacro", s.wordMacro);
    l.Text("manualFolder", s.manualFolder);
    l.Text("manualFormat", s.manualFormat);
    return l.out;
}

} // namespace qf::batch
