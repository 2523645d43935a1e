// The rows of the attachment types editor and their conversion to and from the
// extension table of a settings record.
#pragma once

#include "settings/settings.h"

#include <array>
#include <string>
#include <vector>

namespace qf::desktop {

// One row: the extension as typed and the action's caption (empty when no
// action was chosen).
struct AttachmentRow {
    std::string type;
    std::string action;
    bool operator==(const AttachmentRow&) const = default;
};
using AttachmentRows = std::vector<AttachmentRow>;

// The six action captions in code order: item 1 is code 1.
const std::array<std::string, 6>& ActionCaptions();

// The record's extension table as rows.  A code outside 1 to 6 shows no
// action.  Throws qf::Error "'x' is not a valid integer value" for a code that
// is not a decimal integer and "List index out of bounds (n)" when the actions
// list is shorter than the extensions list.
AttachmentRows ListToGrid(const Settings& record);

// Replaces the record's extension table with the rows: an empty type gives an
// empty entry, an action that is none of the six captions gives code 6.
void GridToList(const AttachmentRows& rows, Settings& record);

// The 19 default rows.
AttachmentRows DefaultRows();

// What the editor tells about a row, in the user's language: for .pdf, what
// "Open (using MS Word)" does with a PDF, or that it is the action to choose
// for the PDF's text; for the usual CV documents (.doc .docx .odt .rtf),
// that it is the action to choose.  Empty for other rows.
std::string ActionHint(const AttachmentRow& row);

} // namespace qf::desktop
