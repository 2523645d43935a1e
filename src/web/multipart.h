// The body of a web getter's POST: one form field "data" carrying text the
// caller has already encoded in base64, in a multipart/form-data body whose
// boundary never occurs in that text.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qf::web {

// A random whole number from 0 to bound - 1.
using RandomBelow = std::function<unsigned(unsigned bound)>;

// A RandomBelow over a generator seeded from the system's entropy.
RandomBelow SystemRandom();

// "AaB03x", grown while `postQuery` contains it: a random digit before, a
// random capital letter after.
std::string MultipartBoundary(std::string_view postQuery, const RandomBelow& random);

struct MultipartPost {
    std::string boundary;
    // "Content-Type: multipart/form-data; boundary=<boundary>" (without the
    // line end, which the HTTP library adds).
    std::string contentType;
    // "--<b>" CRLF "Content-Disposition: form-data; name=\"data\"" CRLF
    // "Content-Transfer-Encoding: base64" CRLF CRLF <postQuery> CRLF "--<b>--"
    std::string body;
};

MultipartPost BuildMultipartPost(std::string_view postQuery, const RandomBelow& random);

} // namespace qf::web
