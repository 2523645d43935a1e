#include "app/desktop/wizard/attachment_table.h"

#include "common/error.h"
#include "common/text.h"
#include "i18n/translate.h"

#include <charconv>

namespace qf::desktop {

const std::array<std::string, 6>& ActionCaptions() {
    static const std::array<std::string, 6> captions{"Open (using MS Word)",
                                                     "Handle manually",
                                                     "Ignore (do not process)",
                                                     "Print to default printer",
                                                     "Save to Quillfence's 'manual' folder",
                                                     "Open (without using Word)"};
    return captions;
}

namespace {

int ParseCode(const std::string& text) {
    int value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (!text.empty() && *first == '+') {
        ++first; // a leading plus sign is a valid integer too
    }
    auto [end, ec] = std::from_chars(first, last, value);
    if (text.empty() || ec != std::errc() || end != last || first == last) {
        throw Error("'" + text + "' is not a valid integer value");
    }
    return value;
}

} // namespace

AttachmentRows ListToGrid(const Settings& record) {
    AttachmentRows rows;
    rows.reserve(record.extensions.size());
    for (std::size_t i = 0; i < record.extensions.size(); ++i) {
        if (i >= record.extensionActions.size()) {
            throw Error("List index out of bounds (" + std::to_string(i) + ")");
        }
        const int code = ParseCode(record.extensionActions[i]);
        AttachmentRow row{record.extensions[i], ""};
        if (code >= 1 && code <= 6) {
            row.action = ActionCaptions()[static_cast<std::size_t>(code - 1)];
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

void GridToList(const AttachmentRows& rows, Settings& record) {
    record.extensions.clear();
    record.extensionActions.clear();
    for (const AttachmentRow& row : rows) {
        record.extensions.push_back(row.type);
        int code = 6;
        for (std::size_t i = 0; i < ActionCaptions().size(); ++i) {
            if (row.action == ActionCaptions()[i]) {
                code = static_cast<int>(i) + 1;
                break;
            }
        }
        record.extensionActions.push_back(std::to_string(code));
    }
}

AttachmentRows DefaultRows() {
    Settings defaults;
    defaults.RestoreDefaultExtensions();
    return ListToGrid(defaults);
}

std::string ActionHint(const AttachmentRow& row) {
    const bool converted = row.action == ActionCaptions()[0];
    if (EqualsNoCase(row.type, ".pdf")) {
        return converted ? TranslateMsg(8756, "PDF files give the text of their pages in reading "
                                              "order. A PDF without text (a scan) or with a "
                                              "password is listed as an exception and its email "
                                              "stays where it is.")
                         : TranslateMsg(8757, "Most CVs arrive as PDF files: choose \"Open (using "
                                              "MS Word)\" to put their text into the output "
                                              "file.");
    }
    for (const char* document : {".doc", ".docx", ".odt", ".rtf"}) {
        if (!converted && EqualsNoCase(row.type, document)) {
            return TranslateMsg(8758, "Choose \"Open (using MS Word)\" to put the document's "
                                      "text into the output file.");
        }
    }
    return {};
}

} // namespace qf::desktop
