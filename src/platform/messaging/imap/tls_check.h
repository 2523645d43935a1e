// Checks the certificate chain a TLS server presented (GnuTLS): it must lead
// to a trusted authority (the CA file when one is given, else the system's)
// and name the host connected to.
#pragma once

#include <string>

typedef struct _mailstream mailstream;

namespace qf::mapi::imap {

// Empty when the chain is trusted, else why not.
std::string CheckServerCertificate(mailstream* stream, const std::string& host,
                                   const std::string& caFile);

} // namespace qf::mapi::imap
