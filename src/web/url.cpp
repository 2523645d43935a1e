#include "web/url.h"

#include <algorithm>

namespace qf::web {

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return out;
}

std::string WebUrl::Text() const {
    return scheme + "://" + host + path;
}

WebUrl SplitUrl(std::string_view url) {
    WebUrl out;
    const std::string lower = LowerAscii(url);
    std::string_view rest = url;
    if (lower.starts_with("https://")) {
        out.scheme = "https";
        rest.remove_prefix(8);
    } else if (lower.find("http://") != std::string::npos) {
        rest.remove_prefix(std::min<std::size_t>(7, rest.size()));
    }
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        out.host = std::string(rest);
    } else {
        out.host = std::string(rest.substr(0, slash));
        out.path = std::string(rest.substr(slash));
    }
    return out;
}

std::string UrlEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const bool keep = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                          (c >= 'a' && c <= 'z') || c == '*' || c == '-' || c == '.' || c == '_';
        if (keep) {
            out += ch;
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0f];
        }
    }
    return out;
}

bool IsWebPageAddress(std::string_view address) {
    const std::string lower = LowerAscii(address);
    std::size_t hostStart = 0;
    if (lower.starts_with("http://")) {
        hostStart = 7;
    } else if (lower.starts_with("https://")) {
        hostStart = 8;
    } else {
        return false;
    }
    for (const char ch : address) {
        const auto c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7f || c == '"' || c == '\'' || c == '\\' || c == '`') {
            return false;
        }
    }
    const std::size_t hostEnd = address.find_first_of("/?#", hostStart);
    const std::string_view host =
        address.substr(hostStart, hostEnd == std::string_view::npos ? std::string_view::npos
                                                                    : hostEnd - hostStart);
    // A host must be there, and must not start with "-" (an option to whatever opens it).
    return !host.empty() && host.front() != '-' && host.front() != '@' && host.front() != ':';
}

} // namespace qf::web
