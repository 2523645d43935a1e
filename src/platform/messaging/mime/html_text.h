// The plain text of an HTML body, as mail clients show an HTML-only message in
// plain text: markup, comments, scripts and styles dropped, paragraphs, line
// breaks, list items and table cells kept as text layout, character references
// decoded.
#pragma once

#include <string>
#include <string_view>

namespace qf::mapi::mime {

std::string HtmlToText(std::string_view html);

} // namespace qf::mapi::mime
