// IMAP modified UTF-7 (RFC 3501, 5.1.3), the encoding of folder names on IMAP
// servers and in Maildir++ trees that Dovecot writes: "Entw&APw-rfe" is
// "Entwürfe".
#pragma once

#include <string>

namespace qf::mapi {

// The name in UTF-8; the text unchanged when it is not valid modified UTF-7
// (8-bit text, say, is shown as it is).
std::string DecodeModifiedUtf7(const std::string& text);

} // namespace qf::mapi
