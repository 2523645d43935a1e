#include "platform/messaging/mime/addresses.h"

#include "platform/messaging/mime/decode.h"
#include "platform/messaging/mime/gmime_support.h"

#include <algorithm>

namespace qf::mapi::mime {

namespace {

// Where a scan of an address list stands: in quotes, a comment, angle brackets
// or a group.
struct SeparatorScan {
    bool quoted = false;
    bool inGroup = false;
    int angle = 0;
    int comment = 0;

    // Whether the character at `i` lies inside a quoted string or a comment
    // (and moves `i` past an escaped character there).
    bool Skips(std::string_view s, std::size_t& i) {
        const char c = s[i];
        if (quoted) {
            if (c == '\\') {
                ++i;
            } else if (c == '"') {
                quoted = false;
            }
            return true;
        }
        if (comment > 0) {
            if (c == '\\') {
                ++i;
            } else if (c == '(') {
                ++comment;
            } else if (c == ')') {
                --comment;
            }
            return true;
        }
        return false;
    }

    // Whether the ";" at this point separates two addresses (it may end a group).
    bool Separates() {
        if (angle != 0) {
            return false;
        }
        if (inGroup) {
            inGroup = false;
            return false;
        }
        return true;
    }

    void Structure(char c) {
        switch (c) {
        case '"':
            quoted = true;
            break;
        case '(':
            comment = 1;
            break;
        case '<':
            ++angle;
            break;
        case '>':
            angle = std::max(0, angle - 1);
            break;
        case ':':
            inGroup = inGroup || angle == 0;
            break;
        default:
            break;
        }
    }
};

// ";" between addresses becomes ","; a ";" that ends a group stays.
std::string FixAddressSeparators(std::string_view s) {
    std::string out(s);
    SeparatorScan scan;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (scan.Skips(out, i)) {
            continue;
        }
        if (out[i] == ';') {
            if (scan.Separates()) {
                out[i] = ',';
            }
        } else {
            scan.Structure(out[i]);
        }
    }
    return out;
}

void CollectAddresses(InternetAddressList* list,
                      std::vector<std::pair<std::string, std::string>>& out) {
    const int n = internet_address_list_length(list);
    for (int i = 0; i < n; ++i) {
        InternetAddress* ia = internet_address_list_get_address(list, i);
        if (INTERNET_ADDRESS_IS_GROUP(ia)) {
            CollectAddresses(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(ia)), out);
            continue;
        }
        const char* name = internet_address_get_name(ia);
        const char* addr = INTERNET_ADDRESS_IS_MAILBOX(ia)
                               ? internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(ia))
                               : nullptr;
        out.emplace_back(name ? Trimmed(name) : std::string(),
                         addr ? Trimmed(addr) : std::string());
    }
}

} // namespace

std::vector<std::pair<std::string, std::string>> ParseAddresses(std::string_view raw) {
    std::vector<std::pair<std::string, std::string>> out;
    const std::string fixed = FixAddressSeparators(MergeBase64Words(Unfold(raw)));
    InternetAddressList* list = internet_address_list_parse(ParserOptions(), fixed.c_str());
    if (list != nullptr) {
        CollectAddresses(list, out);
        g_object_unref(list);
    }
    return out;
}

std::string DisplayList(std::string_view raw) {
    std::string out;
    auto addrs = ParseAddresses(raw);
    if (addrs.empty()) {
        return DecodeHeaderText(raw);
    }
    for (const auto& [name, addr] : addrs) {
        const std::string& shown = name.empty() ? addr : name;
        if (shown.empty()) {
            continue;
        }
        if (!out.empty()) {
            out += "; ";
        }
        out += shown;
    }
    return out;
}

std::optional<std::int64_t> ParseDate(std::string_view raw) {
    const std::string s = Trimmed(Unfold(raw));
    if (s.empty()) {
        return std::nullopt;
    }
    GDateTime* dt = g_mime_utils_header_decode_date(s.c_str());
    if (dt == nullptr) {
        return std::nullopt;
    }
    const std::int64_t t = g_date_time_to_unix(dt);
    g_date_time_unref(dt);
    return t;
}

} // namespace qf::mapi::mime
